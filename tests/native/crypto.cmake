# Unit tests of the portable sealing code (base64 and the sealed-text form).
# Include from tests/native/CMakeLists.txt after the crypto_core target exists
# (add_subdirectory(companions/korvex10/crypto/core)). The sanitizers come from the
# native build's flags so that crypto_core is instrumented along with them.
find_package(GTest REQUIRED)
add_executable(crypto_core_tests ${CMAKE_CURRENT_LIST_DIR}/sealed_text_test.cpp)
target_link_libraries(crypto_core_tests PRIVATE crypto_core GTest::gtest_main)
add_test(NAME crypto_core_tests COMMAND crypto_core_tests)

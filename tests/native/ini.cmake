# Native tests of the INI core. Include from tests/native/CMakeLists.txt after
# companions/korvex10/ini/core has been added (it defines ini_core); the sanitizer flags
# come from the native build's compile and link options.
find_package(GTest REQUIRED)

add_executable(ini_core_tests
  ${CMAKE_CURRENT_LIST_DIR}/ini_document_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_codec_test.cpp
)
target_link_libraries(ini_core_tests PRIVATE ini_core GTest::gtest_main)
add_test(NAME ini_core_tests COMMAND ini_core_tests)

# Cross-compiling the 32-bit Windows binaries, the ones hosts load.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

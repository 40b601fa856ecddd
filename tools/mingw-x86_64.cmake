# Cross-compiles the same program 64-bit with Debian's MinGW-w64 toolchain, for
# running it under wine64 where the kernel runs no 32-bit code. The shipped
# program is the 32-bit build (tools/mingw-i686.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Cross-compiles Kavex for 64-bit Windows with Debian's MinGW-w64 toolchain:
#   cmake -S . -B build-win64 --toolchain cmake/toolchains/x86_64-w64-mingw32.cmake
# The -posix compilers are used because GoogleTest needs std::mutex, which
# the default win32 thread model lacks. The C and C++ runtimes are linked
# statically, so Kavex.dll and the test programs need system DLLs only.
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(KAVEX_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Cross-compiles Kavex for 64-bit Windows with Debian's MinGW-w64 toolchain:
#   cmake -S . -B build-win64 --toolchain cmake/toolchains/x86_64-w64-mingw32.cmake
# The -posix compilers are used because GoogleTest needs std::mutex, which
# the default win32 thread model lacks. The C and C++ runtimes are linked
# statically, so Kavex.dll and the test programs need system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(KAVEX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KAVEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAVEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KAVEX_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${KAVEX_MINGW_TRIPLET}-dlltool)
set(CMAKE_OBJDUMP ${KAVEX_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KAVEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(KAVEX_STATIC_RUNTIME "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${KAVEX_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${KAVEX_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${KAVEX_STATIC_RUNTIME}")

# Cross build for 64-bit Windows with Debian's mingw-w64 compilers:
#   cmake -S . -B build-win --toolchain cmake/mingw-w64-x86_64.cmake
# The posix flavour of the compilers is used because it has std::thread and
# the other C++20 thread facilities. Everything is linked statically, so the
# executables need no DLL beside them (no libstdc++, libgcc or winpthread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VLT_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VLT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VLT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VLT_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${VLT_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${VLT_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "Archive indexer")

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Libraries and headers come from the mingw-w64 sysroot only; programs (the
# build tools) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VLT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)


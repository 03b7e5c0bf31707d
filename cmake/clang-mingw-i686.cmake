# Cross build for 32-bit Windows with clang and lld, over the same mingw-w64 headers,
# libraries and libstdc++ (posix threads variant) as the gcc build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
set(mingw_root /usr/${triple})
# clang does not find Debian's "12-posix" GCC folder by itself: name it.
file(GLOB gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${triple}/*-posix)
list(SORT gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET gcc_dirs 0 gcc_dir)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
set(CMAKE_SYSROOT ${mingw_root})
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/${triple} -isystem ${gcc_dir}/include/c++/backward")
# -B: GCC's crtbegin.o and crtend.o, not the mingw-w64 ones clang picks by default.
# libgcc's unwinder finds the unwind tables only through GCC's start files; without them
# no exception is ever caught (std::bad_alloc in the download ends the launcher).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -B${gcc_dir} -L${gcc_dir}")
# libstdc++'s threads are winpthreads, which gcc's posix driver adds by itself.
set(CMAKE_CXX_STANDARD_LIBRARIES "-lpthread")
set(CMAKE_C_STANDARD_LIBRARIES "-lpthread")
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_OBJCOPY ${triple}-objcopy)
set(CMAKE_FIND_ROOT_PATH ${mingw_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)

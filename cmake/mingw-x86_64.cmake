# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads variant). The
# launcher ships as a 32-bit program; this build exists only so that the Windows tests
# can run under wine64 on a machine whose kernel cannot run 32-bit programs.
set(TOVIN_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-gcc.cmake)

# Cross build for 32-bit Windows with Debian's mingw-w64 (posix threads variant).
set(TOVIN_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-gcc.cmake)

# Cross-compiling for Windows (i686) with Debian's mingw-w64.
set(ZEM_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

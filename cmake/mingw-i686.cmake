# Cross build for 32-bit Windows (the in-process setting of most point-of-sale hosts) with
# mingw-w64 from Linux.  Test programs run under a 32-bit Wine where one is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KORVEL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

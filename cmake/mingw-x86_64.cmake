# Cross build for 64-bit Windows with mingw-w64 from Linux.  The posix thread model is the one
# whose C++ library has std::thread and std::mutex (GoogleTest needs them); programs are linked
# -static so that they need no mingw runtime DLL beside them.  Test programs run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KORVEL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

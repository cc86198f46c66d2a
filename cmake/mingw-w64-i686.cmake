# Cross-compiles for 32-bit Windows with mingw-w64 (Debian's g++-mingw-w64-i686-posix), for terminals whose JRE is
# 32-bit (the one that can load 32-bit OPOS control objects).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VIRI_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

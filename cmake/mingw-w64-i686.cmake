# Cross build for 32-bit Windows with mingw-w64; test programs run under Wine's 32-bit loader in a 64-bit
# prefix, as 32-bit programs run on 64-bit Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KAL_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine-run.sh)
set(KAL_WINE_LOADER /usr/lib/wine/wine)

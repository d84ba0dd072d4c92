# Cross build for 64-bit Windows with Debian's MinGW-w64: the device helper.
set(QZ_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# What both MinGW-w64 cross toolchains (posix thread model: spdlog needs std::mutex) share. The
# including toolchain file sets QZ_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QZ_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QZ_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QZ_MINGW_TRIPLET}-windres)

# Every function and datum in a section of its own, so the link drops what nothing uses.
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
# No link time stamp in the PE header (of the programs and the installer's DLL), so two builds
# of one commit are byte-identical.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--gc-sections -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--gc-sections -Wl,--no-insert-timestamp")

set(CMAKE_FIND_ROOT_PATH /usr/${QZ_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

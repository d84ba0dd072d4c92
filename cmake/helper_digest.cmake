# Writes the source that holds the SHA-256 of the device helper the set-up program may start.
#   cmake -DHELPER=QZ_DeviceInstall64.exe -DOUTPUT=device_helper_digest.cpp -P helper_digest.cmake
# Included with QZ_HELPER_TEXT set instead, it writes the digest of that text (the host tests'
# stand-in for the helper). The file is rewritten only when the digest changes.
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

if(DEFINED QZ_HELPER_TEXT)
  string(SHA256 digest "${QZ_HELPER_TEXT}")
else()
  if(NOT EXISTS "${HELPER}")
    message(FATAL_ERROR "the device helper ${HELPER} is not there to take its digest")
  endif()
  file(SHA256 "${HELPER}" digest)
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " bytes "${digest}")
string(REGEX REPLACE ", $" "" bytes "${bytes}")
set(text "// Written by the build (cmake/helper_digest.cmake): SHA-256 ${digest}\n#include \"setup/device_helper_digest.h\"\n\nconst unsigned char kDeviceHelperSha256[32] = {${bytes}};\n")
file(WRITE "${OUTPUT}.new" "${text}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")

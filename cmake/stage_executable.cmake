# Puts the executable that ships at OUTPUT: Authenticode-signed (SHA-256) with osslsigncode when
# the environment names a PKCS #12 file and a file holding its password, a plain copy otherwise.
#   cmake -DINPUT=exe -DOUTPUT=exe -DOSSLSIGNCODE=path -DEPOCH=seconds -P stage_executable.cmake
# EPOCH is the signing time written into the signature, so one key signs one file to the same
# bytes every time (a time stamp from a server still carries the server's time).
# Environment: QZ_SIGN_PKCS12, QZ_SIGN_PASSWORD_FILE, optionally QZ_SIGN_TIMESTAMP_URL.
# The password is only ever handed over as its file's path: never read, printed or stored here.
cmake_minimum_required(VERSION 3.25)

set(pkcs12 "$ENV{QZ_SIGN_PKCS12}")
set(password_file "$ENV{QZ_SIGN_PASSWORD_FILE}")
get_filename_component(name "${OUTPUT}" NAME)

if(pkcs12 STREQUAL "" AND password_file STREQUAL "")
  file(COPY_FILE "${INPUT}" "${OUTPUT}")
  message(NOTICE "${name} is not signed: set QZ_SIGN_PKCS12 and QZ_SIGN_PASSWORD_FILE to sign it")
  return()
endif()
if(pkcs12 STREQUAL "" OR password_file STREQUAL "")
  message(FATAL_ERROR "signing needs both QZ_SIGN_PKCS12 and QZ_SIGN_PASSWORD_FILE; only one is set")
endif()
foreach(given IN ITEMS pkcs12 password_file)
  if(NOT EXISTS "${${given}}" OR IS_DIRECTORY "${${given}}")
    if(given STREQUAL "pkcs12")
      message(FATAL_ERROR "cannot read the PKCS #12 file that QZ_SIGN_PKCS12 names: ${pkcs12}")
    endif()
    message(FATAL_ERROR "cannot read the password file that QZ_SIGN_PASSWORD_FILE names: ${password_file}")
  endif()
endforeach()
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "signing needs osslsigncode (Debian package osslsigncode)")
endif()

set(timestamp)
if(NOT "$ENV{QZ_SIGN_TIMESTAMP_URL}" STREQUAL "")
  set(timestamp -t "$ENV{QZ_SIGN_TIMESTAMP_URL}")
endif()
file(REMOVE "${OUTPUT}.signing")
execute_process(
  COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "${pkcs12}" -readpass "${password_file}" -h sha256
          -n "QZ USB-to-UART driver setup" -time "${EPOCH}" ${timestamp} -in "${INPUT}"
          -out "${OUTPUT}.signing"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}.signing" "${OUTPUT}")
  string(REGEX MATCHALL "[^\n]*(Failed|failed|error|Error)[^\n]*" reasons "${output}")
  list(JOIN reasons "\n  " reasons)
  message(FATAL_ERROR "signing ${name} failed: osslsigncode could not sign with ${pkcs12} and the "
                      "password in ${password_file} (a wrong password, a file that is not PKCS #12 "
                      "with a key and its certificate, or an unreachable time-stamp server)\n  "
                      "${reasons}")
endif()
file(RENAME "${OUTPUT}.signing" "${OUTPUT}")
message(NOTICE "${name} is signed with the certificate in ${pkcs12}")

# The shipped programs: 32-bit, GUI subsystem (no console), statically linked.
# Size: fmt without the C++ locale machinery and no default console logger nobody uses
# (unused sections are dropped by the toolchain's flags).
target_compile_definitions(qz_spdlog INTERFACE FMT_STATIC_THOUSANDS_SEPARATOR=','
                                               SPDLOG_DISABLE_DEFAULT_LOGGER)

# The set-up program carries the digest of the helper it may start, so the helper is built (and,
# for a release, signed) first; qz_helper_digest writes this file.
set(QZ_HELPER_DIGEST_SOURCE ${QZ_GENERATED}/device_helper_digest.cpp)
set_source_files_properties(${QZ_HELPER_DIGEST_SOURCE} PROPERTIES GENERATED TRUE)

enable_language(RC)
include(cmake/program.cmake)
qz_program(QZ_DriverSetup DESCRIPTION "QZ USB-to-UART driver setup" LEVEL requireAdministrator
           ARCHITECTURE x86
           SOURCES setup/main.cpp ${QZ_HELPER_DIGEST_SOURCE} LIBRARIES qz_setup)
qz_program(QZ_DriverRemove DESCRIPTION "QZ USB-to-UART driver remover" LEVEL requireAdministrator
           ARCHITECTURE x86 SOURCES remove/main.cpp LIBRARIES qz_remove)

# The installer package's check that the driver store holds the package after set-up: a DLL
# custom action, run inside Windows Installer's own process, so it exports its entry undecorated.
add_library(QZ_InstallCheck SHARED msi/staged_check.cpp platform/xp_startup_compat.cpp)
set_target_properties(QZ_InstallCheck PROPERTIES PREFIX "")
target_link_libraries(QZ_InstallCheck PRIVATE qz_remove)
target_link_options(QZ_InstallCheck PRIVATE -static -static-libgcc -static-libstdc++ -s
                                            -Wl,--kill-at)
qz_warnings(QZ_InstallCheck)

# The 64-bit device helper: the same sources built with the 64-bit toolchain in a build of its
# own, its executable put beside the others.
include(ExternalProject)
set(QZ_DEVICE_HELPER ${PROJECT_BINARY_DIR}/QZ_DeviceInstall64.exe)
ExternalProject_Add(qz_device_helper64
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/helper64
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-x86_64.cmake
             -DQZ_TARGET=helper64 -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DQZ_WERROR=${QZ_WERROR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/QZ_DeviceInstall64.exe
                  ${QZ_DEVICE_HELPER}
  BUILD_BYPRODUCTS ${QZ_DEVICE_HELPER})

if(QZ_RELEASE)
  include(cmake/release.cmake)
  return()
endif()

add_custom_target(qz_helper_digest
  COMMAND ${CMAKE_COMMAND} -DHELPER=${QZ_DEVICE_HELPER} -DOUTPUT=${QZ_HELPER_DIGEST_SOURCE}
          -P ${PROJECT_SOURCE_DIR}/cmake/helper_digest.cmake
  BYPRODUCTS ${QZ_HELPER_DIGEST_SOURCE}
  DEPENDS qz_device_helper64
  COMMENT "Taking the digest of QZ_DeviceInstall64.exe" VERBATIM)
add_dependencies(QZ_DriverSetup qz_helper_digest)

# Test-only variant whose staging answers "already there" (last error 80), for the Wine runs.
add_executable(qz_staging_error80 WIN32 tests/e2e/staging_error80_main.cpp
                                         ${QZ_HELPER_DIGEST_SOURCE})
target_link_libraries(qz_staging_error80 PRIVATE qz_setup)
add_dependencies(qz_staging_error80 qz_helper_digest)
target_link_options(qz_staging_error80 PRIVATE -static -static-libgcc -static-libstdc++)
qz_warnings(qz_staging_error80)

# A console helper for the Wine runs: paired starts, a file held open, attribute bits, the
# catalog name and signature as the program sees them, a certificate put into the Root store.
add_executable(qz_e2e_helper tests/e2e/e2e_helper.cpp)
target_link_libraries(qz_e2e_helper PRIVATE qz_setup setupapi crypt32 wintrust)
target_link_options(qz_e2e_helper PRIVATE -static -static-libgcc -static-libstdc++)
qz_warnings(qz_e2e_helper)

# Floor for the whole-run benchmark (bench/): starts with the same system DLLs and exits.
add_executable(qz_floor WIN32 bench/floor_main.c)
target_link_libraries(qz_floor PRIVATE setupapi)
target_link_options(qz_floor PRIVATE -static -s)

# Checks of the built file itself: what Windows XP's loader needs, the manifest, icon and
# version information.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
# The checks read the file with Debian's python3-pefile, which belongs to Debian's interpreter
# (another python3 may come first on PATH).
find_program(QZ_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
set(QZ_EXE_CHECKS ${PROJECT_SOURCE_DIR}/tests/windows)
# Each program imports KnownDLLs only; the remover and the helper have no trust code at all.
set(QZ_EXE_CHECK_QZ_DriverSetup)
set(QZ_EXE_CHECK_QZ_DriverRemove --no-trust)
foreach(program IN ITEMS QZ_DriverSetup QZ_DriverRemove)
  add_test(NAME exe.xp_import_audit.${program}
           COMMAND ${QZ_DEBIAN_PYTHON} ${QZ_EXE_CHECKS}/check_xp_imports.py
                   $<TARGET_FILE:${program}> ${QZ_EXE_CHECKS}/xp_import_allowlist.txt)
  add_test(NAME exe.header_and_resources.${program}
           COMMAND ${QZ_DEBIAN_PYTHON} ${QZ_EXE_CHECKS}/check_executable.py
                   $<TARGET_FILE:${program}> --version ${PROJECT_VERSION} --unsigned)
  add_test(NAME exe.known_dlls_only.${program}
           COMMAND ${QZ_DEBIAN_PYTHON} ${QZ_EXE_CHECKS}/check_imports.py
                   $<TARGET_FILE:${program}> ${QZ_EXE_CHECK_${program}})
  set_tests_properties(exe.known_dlls_only.${program} PROPERTIES TIMEOUT 60)
  set_tests_properties(exe.xp_import_audit.${program} exe.header_and_resources.${program}
                       PROPERTIES TIMEOUT 60)
endforeach()
# Windows Installer loads the install check into its own process, on XP as well.
add_test(NAME exe.xp_import_audit.QZ_InstallCheck
         COMMAND ${QZ_DEBIAN_PYTHON} ${QZ_EXE_CHECKS}/check_xp_imports.py
                 $<TARGET_FILE:QZ_InstallCheck> ${QZ_EXE_CHECKS}/xp_import_allowlist.txt)
add_test(NAME exe.known_dlls_only.QZ_InstallCheck
         COMMAND ${QZ_DEBIAN_PYTHON} ${QZ_EXE_CHECKS}/check_imports.py
                 $<TARGET_FILE:QZ_InstallCheck> --no-trust)
set_tests_properties(exe.xp_import_audit.QZ_InstallCheck exe.known_dlls_only.QZ_InstallCheck
                     PROPERTIES TIMEOUT 60)
# The test variant links no XP start-up shim, so the audit must name its GetTickCount64.
add_test(NAME exe.xp_import_audit_names_offenders
         COMMAND ${QZ_DEBIAN_PYTHON} ${QZ_EXE_CHECKS}/check_xp_imports.py
                 $<TARGET_FILE:qz_staging_error80> ${QZ_EXE_CHECKS}/xp_import_allowlist.txt)
set_tests_properties(exe.xp_import_audit_names_offenders PROPERTIES
  PASS_REGULAR_EXPRESSION "KERNEL32.dll!GetTickCount64 \\(Vista\\): newer than Windows XP SP3")
add_test(NAME exe.xp_import_audit.QZ_DeviceInstall64
         COMMAND ${QZ_DEBIAN_PYTHON} ${QZ_EXE_CHECKS}/check_xp_imports.py ${QZ_DEVICE_HELPER}
                 ${QZ_EXE_CHECKS}/xp_import_allowlist.txt)
add_test(NAME exe.header_and_resources.QZ_DeviceInstall64
         COMMAND ${QZ_DEBIAN_PYTHON} ${QZ_EXE_CHECKS}/check_executable.py ${QZ_DEVICE_HELPER}
                 --version ${PROJECT_VERSION} --unsigned --x64 --level asInvoker)
add_test(NAME exe.known_dlls_only.QZ_DeviceInstall64
         COMMAND ${QZ_DEBIAN_PYTHON} ${QZ_EXE_CHECKS}/check_imports.py ${QZ_DEVICE_HELPER} --no-trust)
# The test helper links the Setup API and CryptoAPI as import libraries: the check must say so.
add_test(NAME exe.known_dlls_check_names_offenders
         COMMAND ${QZ_DEBIAN_PYTHON} ${QZ_EXE_CHECKS}/check_imports.py
                 $<TARGET_FILE:qz_e2e_helper> --no-trust)
set_tests_properties(exe.known_dlls_only.QZ_DeviceInstall64 exe.known_dlls_check_names_offenders
                     PROPERTIES TIMEOUT 60)
set_tests_properties(exe.known_dlls_check_names_offenders PROPERTIES PASS_REGULAR_EXPRESSION
  "not KnownDLLs: crypt32\\.dll, [^\n]*setupapi\\.dll[^\n]*\nFAIL: names WinVerifyTrust, [^\n]*CertOpenStore")
set_tests_properties(exe.xp_import_audit_names_offenders exe.xp_import_audit.QZ_DeviceInstall64
                     exe.header_and_resources.QZ_DeviceInstall64 PROPERTIES TIMEOUT 60)

include(cmake/e2e.cmake)
include(cmake/release_tests.cmake)

# The bundle a maker ships: the programs (signed when the environment says how), their Drivers
# folder, an empty logs folder, a read-me and SHA256SUMS, packed by CPack as one ZIP; beside it
# the installer package for fleets, made from that zip.
# The package check reads PE images and catalogs with Debian's python3-pefile and
# python3-asn1crypto, which belong to Debian's interpreter (another python3 may come first).
find_program(QZ_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
set(QZ_DRIVER_PACKAGE_DIR "" CACHE PATH
    "The maker's Drivers folder; empty: the sample package kept in the repository")
if(QZ_DRIVER_PACKAGE_DIR)
  get_filename_component(QZ_PACKAGE "${QZ_DRIVER_PACKAGE_DIR}" ABSOLUTE)
  set(QZ_BUNDLE_SUFFIX "")
else()
  set(QZ_PACKAGE ${PROJECT_SOURCE_DIR}/sample/Drivers)
  set(QZ_BUNDLE_SUFFIX "-sample")
endif()
set(QZ_BUNDLE_NAME QZ_DriverSetup-${PROJECT_VERSION}-win32${QZ_BUNDLE_SUFFIX})
# Windows reads an INF without a byte-order mark in each machine's ANSI code page; the release
# reads the Provider it names as publisher in the code page of the machines it is made for.
set(QZ_INF_CODE_PAGE 936 CACHE STRING
    "The ANSI code page the package INF is read in when it has no byte-order mark")
set(QZ_ANSI_CODE_PAGES 874 932 936 949 950 1250 1251 1252 1253 1254 1255 1256 1257 1258)
if(NOT QZ_INF_CODE_PAGE IN_LIST QZ_ANSI_CODE_PAGES)
  message(FATAL_ERROR "QZ_INF_CODE_PAGE=${QZ_INF_CODE_PAGE} is not a Windows ANSI code page "
                      "(${QZ_ANSI_CODE_PAGES})")
endif()
message(STATUS "An ANSI package INF is read in code page ${QZ_INF_CODE_PAGE} (QZ_INF_CODE_PAGE)")

# A failed release must leave no bundle that could be taken for its result, so earlier ones go
# before the package is checked, at configure time and again at build time.
set(QZ_CHECK_PACKAGE ${QZ_DEBIAN_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/check_driver_package.py
                     ${QZ_PACKAGE})
if(QZ_BUNDLE_SUFFIX STREQUAL "-sample")
  list(APPEND QZ_CHECK_PACKAGE --sample)
endif()
set(QZ_MSI ${PROJECT_BINARY_DIR}/QZ_DriverSetup-${PROJECT_VERSION}.msi)
file(GLOB QZ_OLD_BUNDLES ${PROJECT_BINARY_DIR}/QZ_DriverSetup-*.zip
                         ${PROJECT_BINARY_DIR}/QZ_DriverSetup-*.msi)
if(QZ_OLD_BUNDLES)
  file(REMOVE ${QZ_OLD_BUNDLES})
endif()
execute_process(COMMAND ${QZ_CHECK_PACKAGE} RESULT_VARIABLE QZ_PACKAGE_CHECK)
if(NOT QZ_PACKAGE_CHECK EQUAL 0)
  message(FATAL_ERROR "the driver package has the problems above: nothing is packed")
endif()
add_custom_target(qz_check_driver_package ALL
  COMMAND ${CMAKE_COMMAND} -E rm -f ${PROJECT_BINARY_DIR}/${QZ_BUNDLE_NAME}.zip ${QZ_MSI}
  COMMAND ${QZ_CHECK_PACKAGE}
  COMMENT "Checking the driver package ${QZ_PACKAGE}" VERBATIM)
set(QZ_BUNDLE_PROGRAMS QZ_DriverSetup QZ_DriverRemove qz_device_helper64)
foreach(program IN LISTS QZ_BUNDLE_PROGRAMS)
  add_dependencies(${program} qz_check_driver_package)
endforeach()

# The signatures and the zip entries get fixed times: SOURCE_DATE_EPOCH when the build has one,
# else the commit's time.
set(QZ_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(QZ_SOURCE_DATE_EPOCH STREQUAL "")
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE QZ_SOURCE_DATE_EPOCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
if(NOT QZ_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  set(QZ_SOURCE_DATE_EPOCH 315532800)  # 1980-01-01, the earliest time a ZIP entry can hold
endif()

set(QZ_BUNDLE ${PROJECT_BINARY_DIR}/bundle)
configure_file(res/README.txt.in ${QZ_BUNDLE}/README.txt @ONLY NEWLINE_STYLE CRLF)
# The deployment scripts; detect.ps1 takes the package's Provider and DriverVer at build time.
foreach(script IN ITEMS install.cmd uninstall.cmd)
  configure_file(res/deploy/${script} ${QZ_BUNDLE}/deploy/${script} @ONLY NEWLINE_STYLE CRLF)
endforeach()
find_program(QZ_OSSLSIGNCODE osslsigncode)
# Always run: the signing settings come from the environment of the build, not of configure.
set(QZ_STAGE_COMMANDS)
set(QZ_BUNDLE_FILES)
# The helper is staged (signed) before the set-up program is compiled, which carries the digest
# of exactly the helper that ships.
set(QZ_SHIPPED_HELPER ${QZ_BUNDLE}/QZ_DeviceInstall64.exe)
add_custom_target(qz_helper_digest
  COMMAND ${CMAKE_COMMAND} -DINPUT=${QZ_DEVICE_HELPER} -DOUTPUT=${QZ_SHIPPED_HELPER}
          -DOSSLSIGNCODE=${QZ_OSSLSIGNCODE} -DEPOCH=${QZ_SOURCE_DATE_EPOCH}
          -P ${PROJECT_SOURCE_DIR}/cmake/stage_executable.cmake
  COMMAND ${CMAKE_COMMAND} -DHELPER=${QZ_SHIPPED_HELPER} -DOUTPUT=${QZ_HELPER_DIGEST_SOURCE}
          -P ${PROJECT_SOURCE_DIR}/cmake/helper_digest.cmake
  BYPRODUCTS ${QZ_HELPER_DIGEST_SOURCE} ${QZ_SHIPPED_HELPER}
  DEPENDS qz_device_helper64 qz_check_driver_package
  COMMENT "Staging QZ_DeviceInstall64.exe and taking its digest" VERBATIM)
add_dependencies(QZ_DriverSetup qz_helper_digest)
list(APPEND QZ_BUNDLE_FILES ${QZ_SHIPPED_HELPER})

# Each program as it is named in the bundle, and where the build made it.
set(QZ_BUNDLE_EXECUTABLES "QZ_DriverSetup.exe|$<TARGET_FILE:QZ_DriverSetup>"
                          "QZ_DriverRemove.exe|$<TARGET_FILE:QZ_DriverRemove>")
foreach(entry IN LISTS QZ_BUNDLE_EXECUTABLES)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 built)
  list(APPEND QZ_STAGE_COMMANDS
       COMMAND ${CMAKE_COMMAND} -DINPUT=${built} -DOUTPUT=${QZ_BUNDLE}/${name}
               -DOSSLSIGNCODE=${QZ_OSSLSIGNCODE} -DEPOCH=${QZ_SOURCE_DATE_EPOCH}
               -P ${PROJECT_SOURCE_DIR}/cmake/stage_executable.cmake)
  list(APPEND QZ_BUNDLE_FILES ${QZ_BUNDLE}/${name})
endforeach()
# The installer package's custom action, signed as the programs are; CPack builds the package.
set(QZ_SHIPPED_INSTALL_CHECK ${PROJECT_BINARY_DIR}/msi/QZ_InstallCheck.dll)
list(APPEND QZ_STAGE_COMMANDS
     COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/msi
     COMMAND ${CMAKE_COMMAND} -DINPUT=$<TARGET_FILE:QZ_InstallCheck>
             -DOUTPUT=${QZ_SHIPPED_INSTALL_CHECK} -DOSSLSIGNCODE=${QZ_OSSLSIGNCODE}
             -DEPOCH=${QZ_SOURCE_DATE_EPOCH} -P ${PROJECT_SOURCE_DIR}/cmake/stage_executable.cmake)
add_custom_target(qz_bundle ALL
  ${QZ_STAGE_COMMANDS}
  COMMAND ${QZ_DEBIAN_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/write_detect_script.py ${QZ_PACKAGE}
          ${PROJECT_SOURCE_DIR}/res/deploy/detect.ps1.in ${QZ_BUNDLE}/deploy/detect.ps1
          --inf-code-page ${QZ_INF_CODE_PAGE}
  COMMAND ${CMAKE_COMMAND} -DBUNDLE=${QZ_BUNDLE} -DPACKAGE=${QZ_PACKAGE}
          -P ${PROJECT_SOURCE_DIR}/cmake/write_checksums.cmake
  DEPENDS ${QZ_BUNDLE_PROGRAMS} QZ_InstallCheck qz_check_driver_package qz_helper_digest
  COMMENT "Staging the executables and SHA256SUMS" VERBATIM)

install(FILES ${QZ_BUNDLE_FILES} ${QZ_BUNDLE}/README.txt ${QZ_BUNDLE}/SHA256SUMS DESTINATION .)
install(DIRECTORY ${QZ_PACKAGE}/ DESTINATION Drivers)
install(DIRECTORY ${QZ_BUNDLE}/deploy DESTINATION .)
install(DIRECTORY DESTINATION logs)

find_program(QZ_WIXL wixl REQUIRED)
find_program(QZ_MSIBUILD msibuild REQUIRED)
file(WRITE ${PROJECT_BINARY_DIR}/cpack_project_config.cmake
     "set(ENV{SOURCE_DATE_EPOCH} ${QZ_SOURCE_DATE_EPOCH})
set(QZ_MSI_PYTHON \"${QZ_DEBIAN_PYTHON}\")
set(QZ_MSI_SOURCE \"${PROJECT_SOURCE_DIR}\")
set(QZ_MSI_WORK \"${PROJECT_BINARY_DIR}/msi\")
set(QZ_MSI_VERSION ${PROJECT_VERSION})
set(QZ_MSI_INF_CODE_PAGE ${QZ_INF_CODE_PAGE})
set(QZ_MSI_INSTALL_CHECK \"${QZ_SHIPPED_INSTALL_CHECK}\")
set(QZ_MSI_OUTPUT \"${QZ_MSI}\")
set(QZ_MSI_OSSLSIGNCODE \"${QZ_OSSLSIGNCODE}\")
")
# CPack takes the entries' order, permissions and owner ids from the file system; Debian's
# strip-nondeterminism makes them the same everywhere once the zip is packed. The installer
# package is then built from that zip.
find_program(QZ_STRIP_NONDETERMINISM strip-nondeterminism REQUIRED)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/normalize_zip.cmake
                             ${PROJECT_SOURCE_DIR}/cmake/pack_msi.cmake)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME QZ_DriverSetup)
set(CPACK_PACKAGE_VENDOR QZ)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${QZ_BUNDLE_NAME})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack_project_config.cmake)
include(CPack)

# CPack's post-build script, after the zip is normalised: the installer package for fleets, built
# from the zip's own contents so the two cannot differ, then signed as the programs are. A
# failure takes the zip with it: half a release is none.
#   Set by the release configure: QZ_MSI_PYTHON, QZ_MSI_SOURCE, QZ_MSI_WORK, QZ_MSI_VERSION,
#   QZ_MSI_INF_CODE_PAGE, QZ_MSI_INSTALL_CHECK, QZ_MSI_OUTPUT, QZ_MSI_OSSLSIGNCODE
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
file(REMOVE_RECURSE "${QZ_MSI_WORK}/unpacked")
file(REMOVE "${QZ_MSI_OUTPUT}")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.zip$")
    continue()
  endif()
  file(ARCHIVE_EXTRACT INPUT "${package}" DESTINATION "${QZ_MSI_WORK}/unpacked")
  get_filename_component(top "${package}" NAME_WLE)
  set(unsigned "${QZ_MSI_WORK}/QZ_DriverSetup.msi.unsigned")
  execute_process(
    COMMAND "${QZ_MSI_PYTHON}" "${QZ_MSI_SOURCE}/cmake/build_msi.py"
            --bundle "${QZ_MSI_WORK}/unpacked/${top}" --version "${QZ_MSI_VERSION}"
            --install-check "${QZ_MSI_INSTALL_CHECK}" --inf-code-page "${QZ_MSI_INF_CODE_PAGE}"
            --template "${QZ_MSI_SOURCE}/msi/QZ_DriverSetup.wxs.in" --epoch "${epoch}"
            --output "${unsigned}"
    RESULT_VARIABLE result)
  if(result EQUAL 3)
    # A driver package the installer package cannot carry; the script said why.
    continue()
  endif()
  if(result EQUAL 0)
    execute_process(
      COMMAND "${CMAKE_COMMAND}" -DINPUT=${unsigned} -DOUTPUT=${QZ_MSI_OUTPUT}
              -DOSSLSIGNCODE=${QZ_MSI_OSSLSIGNCODE} -DEPOCH=${epoch}
              -P "${QZ_MSI_SOURCE}/cmake/stage_executable.cmake"
      RESULT_VARIABLE result)
  endif()
  file(REMOVE "${unsigned}")
  if(NOT result EQUAL 0)
    file(REMOVE "${QZ_MSI_OUTPUT}" "${package}")
    message(FATAL_ERROR "the installer package could not be made: no zip and no .msi are left")
  endif()
endforeach()

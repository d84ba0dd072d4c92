# CPack's post-build script: normalises each zip it packed with Debian's strip-nondeterminism
# (entries sorted by name, fixed times and permissions, no owner ids), so the zip's bytes depend
# on its content and SOURCE_DATE_EPOCH only.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND strip-nondeterminism --type zip --timestamp $ENV{SOURCE_DATE_EPOCH}
                          ${package}
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(REMOVE ${package})
    message(FATAL_ERROR "strip-nondeterminism could not normalise ${package}")
  endif()
endforeach()

# One program of the bundle: its entry and sources, its manifest (asking for LEVEL), the icon and
# version resource (res/<name>.rc), linked static and stripped.
#   qz_program(name DESCRIPTION text LEVEL level ARCHITECTURE x86|amd64 SOURCES ... LIBRARIES ...)
function(qz_program name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "DESCRIPTION;LEVEL;ARCHITECTURE" "SOURCES;LIBRARIES")
  set(QZ_MANIFEST_NAME QZ.${name})
  set(QZ_MANIFEST_DESCRIPTION "${ARG_DESCRIPTION}")
  set(QZ_MANIFEST_LEVEL ${ARG_LEVEL})
  set(QZ_MANIFEST_ARCHITECTURE ${ARG_ARCHITECTURE})
  configure_file(${PROJECT_SOURCE_DIR}/res/program.manifest.in ${QZ_GENERATED}/${name}.manifest
                 @ONLY)
  # The start-up shim is an object of each program, not of a library: nothing in the program
  # asks for it, it only fills an import slot the runtime would otherwise leave to the loader.
  add_executable(${name} WIN32 ${ARG_SOURCES} platform/xp_startup_compat.cpp res/${name}.rc)
  set_source_files_properties(res/${name}.rc PROPERTIES OBJECT_DEPENDS
    "${QZ_GENERATED}/${name}.manifest;${QZ_GENERATED}/qz_version.h;${PROJECT_SOURCE_DIR}/res/program.rc;${PROJECT_SOURCE_DIR}/res/QZ_DriverSetup.ico")
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${QZ_GENERATED}
                                             ${PROJECT_SOURCE_DIR}/res)
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++ -s)
  qz_warnings(${name})
endfunction()

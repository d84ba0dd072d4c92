# End-to-end runs of the real executable under Wine, in a 32-bit and a 64-bit prefix that the
# test run creates once (a CTest fixture) and every case reuses. Cases sharing a prefix take
# its lock: the Windows version they choose is a setting of the whole prefix. Their time-outs
# only stop a hung run: under full-system emulation (tests/e2e/windows_runner.py) a case takes
# several times as long as natively.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
find_program(QZ_WINEBOOT wineboot)
if(NOT QZ_WINE OR NOT QZ_WINEBOOT)
  message(WARNING "Wine not found: the end-to-end tests are not registered")
  return()
endif()

set(QZ_E2E_SCRIPT ${PROJECT_SOURCE_DIR}/tests/e2e/e2e.py)
set(QZ_E2E ${Python3_EXECUTABLE} ${QZ_E2E_SCRIPT} --exe $<TARGET_FILE:QZ_DriverSetup>
           --remove-exe $<TARGET_FILE:QZ_DriverRemove>
           --error80-exe $<TARGET_FILE:qz_staging_error80> --helper $<TARGET_FILE:qz_e2e_helper>
           --work ${PROJECT_BINARY_DIR}/e2e)

add_test(NAME e2e.setup COMMAND ${QZ_E2E} setup)
set_tests_properties(e2e.setup PROPERTIES FIXTURES_SETUP wine_prefixes TIMEOUT 1800)
add_test(NAME e2e.teardown COMMAND ${QZ_E2E} teardown)
set_tests_properties(e2e.teardown PROPERTIES FIXTURES_CLEANUP wine_prefixes TIMEOUT 120)

execute_process(COMMAND ${Python3_EXECUTABLE} ${QZ_E2E_SCRIPT} list
                OUTPUT_VARIABLE QZ_E2E_CASES COMMAND_ERROR_IS_FATAL ANY)
file(GLOB QZ_E2E_CASE_MODULES ${PROJECT_SOURCE_DIR}/tests/e2e/cases/*.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QZ_E2E_SCRIPT}
                                                              ${QZ_E2E_CASE_MODULES})
string(REPLACE "\n" ";" QZ_E2E_CASES "${QZ_E2E_CASES}")
foreach(entry IN LISTS QZ_E2E_CASES)
  if(entry STREQUAL "")
    continue()
  endif()
  string(REPLACE " " ";" fields "${entry}")
  list(GET fields 0 name)
  list(GET fields 1 prefix)
  add_test(NAME e2e.${name} COMMAND ${QZ_E2E} run ${name})
  set_tests_properties(e2e.${name} PROPERTIES FIXTURES_REQUIRED wine_prefixes
                       RESOURCE_LOCK ${prefix} TIMEOUT 1200)
endforeach()

# The guest's own checks (natively they have nothing to check): what one side of the shared work
# tree writes is what the other reads, and the agent answers only the run that booted it and
# shows what a command that ran out of time had printed.
add_test(NAME guest.share_is_coherent
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/e2e/share_stress.py
                 ${PROJECT_BINARY_DIR}/share-stress 100)
add_test(NAME guest.agent_answers_its_run_and_shows_a_hung_command
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/e2e/guest_checks.py)
set_tests_properties(guest.share_is_coherent guest.agent_answers_its_run_and_shows_a_hung_command
                     PROPERTIES TIMEOUT 900)

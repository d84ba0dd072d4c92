find_package(GTest REQUIRED)
include(GoogleTest)

# The host tests' stand-in for the 64-bit helper: the set-up program starts only a file of
# exactly these bytes.
set(QZ_HELPER_TEXT "QZ_DeviceInstall64.exe stand-in for the host tests")
set(OUTPUT ${QZ_GENERATED}/device_helper_digest.cpp)
include(cmake/helper_digest.cmake)
unset(OUTPUT)

target_sources(qz_setup PRIVATE ${QZ_GENERATED}/device_helper_digest.cpp)

add_library(qz_test_support STATIC tests/host/test_support.cpp)
target_link_libraries(qz_test_support PUBLIC qz_log qz_fake_platform GTest::gtest)
target_compile_definitions(qz_test_support PRIVATE "QZ_HELPER_STAND_IN=\"${QZ_HELPER_TEXT}\"")
qz_warnings(qz_test_support)

add_executable(qz_host_tests
  tests/host/install_paths_test.cpp
  tests/host/install_log_test.cpp
  tests/host/file_digest_test.cpp
  tests/host/windows_release_test.cpp
  tests/host/system_file_deployment_test.cpp
  tests/host/modem_inf_patch_test.cpp
  tests/host/driver_preinstall_test.cpp
  tests/host/publisher_trust_test.cpp
  tests/host/run_driver_setup_test.cpp
  tests/host/arm64_run_test.cpp
  tests/host/run_lock_test.cpp
  tests/host/fault_sweep_test.cpp
  tests/host/driver_removal_test.cpp
  tests/host/present_devices_test.cpp
  tests/host/device_install_test.cpp
  tests/host/program_folder_test.cpp
  tests/host/unseen_prompts_test.cpp
  tests/host/dll_search_test.cpp)
target_link_libraries(qz_host_tests PRIVATE qz_setup qz_remove qz_test_support GTest::gtest_main)
# Lets the patch tests make a read come up short, refuse an open for writing and run out of
# memory, which no real file or heap does on demand (and root ignores permission bits).
target_link_options(qz_host_tests PRIVATE -Wl,--wrap=fread,--wrap=fopen,--wrap=malloc)
qz_warnings(qz_host_tests)
# A hang fails the run instead of stalling it.
gtest_discover_tests(qz_host_tests NO_PRETTY_VALUES PROPERTIES TIMEOUT 60)

# The version entry point is looked up once per process, so its absence needs a process.
add_executable(qz_rtl_missing_test tests/host/rtl_get_version_missing_test.cpp)
target_link_libraries(qz_rtl_missing_test PRIVATE qz_common qz_test_support GTest::gtest_main)
qz_warnings(qz_rtl_missing_test)
gtest_discover_tests(qz_rtl_missing_test NO_PRETTY_VALUES PROPERTIES TIMEOUT 60)

# Benchmarks measure and report; they are not tests (run by hand: see bench/README.md).
find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_executable(qz_patch_bench bench/modem_inf_patch_bench.cpp)
  target_link_libraries(qz_patch_bench PRIVATE qz_setup qz_fake_platform benchmark::benchmark)
endif()

# The README's table of log records names every text the programs can write.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
add_test(NAME docs.log_records_in_readme
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/docs/check_log_table.py
                 ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/log/messages.cpp
                 ${PROJECT_SOURCE_DIR}/CMakeLists.txt)

# Tests of the release a maker runs (cmake --workflow --preset release), in the order their
# fixtures chain them: the sample bundle, its run under Wine, a second build elsewhere compared
# byte for byte, a signed build of that copy; driver packages, their catalogs and the zip's
# normalisation on their own.
set(QZ_RELEASE_TEST ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/release/release.py
                    --source ${PROJECT_SOURCE_DIR} --work ${PROJECT_BINARY_DIR}/release_tests
                    --version ${PROJECT_VERSION} --wine-work ${PROJECT_BINARY_DIR}/e2e)

add_test(NAME release.workflow COMMAND ${QZ_RELEASE_TEST} workflow)
set_tests_properties(release.workflow PROPERTIES FIXTURES_SETUP release_bundle TIMEOUT 900)

add_test(NAME release.bundle_runs COMMAND ${QZ_RELEASE_TEST} bundle_runs)
set_tests_properties(release.bundle_runs PROPERTIES FIXTURES_REQUIRED "release_bundle;wine_prefixes"
                     RESOURCE_LOCK win64 TIMEOUT 1200)

add_test(NAME release.reproducible COMMAND ${QZ_RELEASE_TEST} reproducible)
set_tests_properties(release.reproducible PROPERTIES FIXTURES_REQUIRED release_bundle
                     FIXTURES_SETUP release_copy TIMEOUT 900)

add_test(NAME release.signed_bundle COMMAND ${QZ_RELEASE_TEST} signed_bundle)
set_tests_properties(release.signed_bundle PROPERTIES FIXTURES_REQUIRED "release_copy;wine_prefixes"
                     RESOURCE_LOCK win64 TIMEOUT 1800)

add_test(NAME release.broken_packages COMMAND ${QZ_RELEASE_TEST} broken_packages)
set_tests_properties(release.broken_packages PROPERTIES TIMEOUT 900)

add_test(NAME release.catalog_signers COMMAND ${QZ_RELEASE_TEST} catalog_signers)
add_test(NAME release.zip_normalised COMMAND ${QZ_RELEASE_TEST} zip_normalised)
set_tests_properties(release.catalog_signers release.zip_normalised PROPERTIES TIMEOUT 300)

# The installer package: its tables, then msiexec in the shared prefixes (the refusals, the
# plain install and its actions' commands on 32-bit Windows 7, the upgrade on 64-bit Windows 10)
# and in 64-bit Windows 10 prefixes of their own (a failed upgrade, which Wine leaves without the
# installed files, and a Chinese and a Korean Windows).
add_test(NAME release.msi_tables COMMAND ${QZ_RELEASE_TEST} msi_tables)
set_tests_properties(release.msi_tables PROPERTIES FIXTURES_REQUIRED release_bundle TIMEOUT 300)
foreach(case IN ITEMS msi_win10_64:win64 msi_win7_32:win32
                     msi_failed_upgrade_win10_64:win64_failed_upgrade
                     msi_chinese_win10_64:win64_zh_CN msi_korean_win10_64:win64_ko_KR)
  string(REPLACE ":" ";" case "${case}")
  list(GET case 0 name)
  list(GET case 1 prefix)
  add_test(NAME release.${name} COMMAND ${QZ_RELEASE_TEST} ${name})
  set_tests_properties(release.${name} PROPERTIES FIXTURES_REQUIRED "release_bundle;wine_prefixes"
                       RESOURCE_LOCK ${prefix} TIMEOUT 2400)
endforeach()

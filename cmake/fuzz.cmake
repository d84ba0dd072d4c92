# libFuzzer targets. The test runs a short bounded session; a longer one by hand:
#   build/fuzz/qz_patch_fuzz -dict=tests/fuzz/modem_inf_patch.dict -max_total_time=3600 CORPUS
set(QZ_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
foreach(library IN LISTS QZ_LIBRARIES)
  target_compile_options(${library} PRIVATE ${QZ_FUZZ_FLAGS})
endforeach()

add_executable(qz_patch_fuzz tests/fuzz/modem_inf_patch_fuzz.cpp)
target_link_libraries(qz_patch_fuzz PRIVATE qz_setup qz_fake_platform)
target_compile_options(qz_patch_fuzz PRIVATE ${QZ_FUZZ_FLAGS})
target_link_options(qz_patch_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)

set(QZ_FUZZ_CORPUS ${PROJECT_BINARY_DIR}/patch_corpus)
add_test(NAME fuzz.modem_inf_patch
         COMMAND ${CMAKE_COMMAND} -E env --
                 sh -c "rm -rf '${QZ_FUZZ_CORPUS}' && cp -r '${PROJECT_SOURCE_DIR}/tests/fuzz/corpus' '${QZ_FUZZ_CORPUS}' && exec '$<TARGET_FILE:qz_patch_fuzz>' -dict='${PROJECT_SOURCE_DIR}/tests/fuzz/modem_inf_patch.dict' -max_total_time=45 -max_len=4096 -seed=1 '${QZ_FUZZ_CORPUS}'")
set_tests_properties(fuzz.modem_inf_patch PROPERTIES TIMEOUT 300)

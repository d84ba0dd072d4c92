# One static library per folder, each naming the libraries it uses, so every program and test
# links just what it needs: platform <- log <- common <- device <- setup, and common <- remove.
# A Windows build compiles the real operations into the platform library; the host builds the
# fake beside it, for the tests. QZ_WINDOWS_DEFINITIONS, when set, names the oldest Windows the
# build targets.
set(QZ_WINDOWS_BUILD OFF)
if(QZ_TARGET STREQUAL "windows" OR QZ_TARGET STREQUAL "helper64")
  set(QZ_WINDOWS_BUILD ON)
endif()

add_library(qz_platform STATIC platform/platform_ops.cpp)
target_include_directories(qz_platform PUBLIC ${PROJECT_SOURCE_DIR})
if(QZ_WINDOWS_BUILD)
  target_sources(qz_platform PRIVATE platform/windows_platform_ops.cpp
                                     platform/windows_process_ops.cpp platform/windows_file_ops.cpp
                                     platform/windows_run_lock_ops.cpp
                                     platform/windows_driver_store_ops.cpp
                                     platform/windows_device_ops.cpp platform/windows_setup_api.cpp
                                     platform/system_dlls.cpp)
  # The helper has no trust step and runs no installer action.
  if(QZ_TARGET STREQUAL "windows")
    target_sources(qz_platform PRIVATE platform/windows_trust_ops.cpp
                                       platform/windows_installer.cpp)
  endif()
  # Only KnownDLLs are imported; every other system DLL is loaded from the system folder.
  target_link_libraries(qz_platform PUBLIC advapi32 user32)
  target_compile_definitions(qz_platform PUBLIC ${QZ_WINDOWS_DEFINITIONS})
else()
  # The host's platform library holds no operations: tests, the fuzzer and the benchmarks link
  # the fake, which lives with them.
  add_library(qz_fake_platform STATIC tests/support/fake_platform_ops.cpp
                                      tests/support/fake_process_ops.cpp
                                      tests/support/fake_file_ops.cpp
                                      tests/support/fake_run_lock_ops.cpp
                                      tests/support/fake_driver_store_ops.cpp
                                      tests/support/fake_device_ops.cpp
                                      tests/support/fake_trust_ops.cpp)
  target_link_libraries(qz_fake_platform PUBLIC qz_platform)
  qz_warnings(qz_fake_platform)
endif()

# Log texts are written in UTF-8 here and compiled into GBK bytes, the log's encoding.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_library(qz_messages OBJECT log/messages.cpp)
  target_include_directories(qz_messages PRIVATE ${PROJECT_SOURCE_DIR} ${QZ_GENERATED})
  target_compile_options(qz_messages PRIVATE -finput-charset=UTF-8 -fexec-charset=GBK)
  target_compile_definitions(qz_messages PRIVATE ${QZ_WINDOWS_DEFINITIONS})
  qz_warnings(qz_messages)
  set(QZ_MESSAGES_OBJECTS $<TARGET_OBJECTS:qz_messages>)
else()
  # Clang has no GBK execution character set; the host's GCC compiles the texts.
  find_program(QZ_GXX g++ REQUIRED)
  set(QZ_MESSAGES_OBJECTS ${PROJECT_BINARY_DIR}/messages_gbk.o)
  add_custom_command(OUTPUT ${QZ_MESSAGES_OBJECTS}
    COMMAND ${QZ_GXX} -std=c++20 -c -finput-charset=UTF-8 -fexec-charset=GBK
            -I${PROJECT_SOURCE_DIR} -I${QZ_GENERATED} ${PROJECT_SOURCE_DIR}/log/messages.cpp
            -o ${QZ_MESSAGES_OBJECTS}
    DEPENDS log/messages.cpp log/messages.h ${QZ_GENERATED}/qz_version.h)
endif()

add_library(qz_log STATIC log/install_log.cpp log/record_text.cpp ${QZ_MESSAGES_OBJECTS})
target_link_libraries(qz_log PUBLIC qz_platform qz_spdlog)

add_library(qz_common STATIC common/program_folder.cpp common/program_run.cpp
                             common/run_lock.cpp common/windows_release.cpp common/dll_search.cpp
                             common/file_digest.cpp)
target_link_libraries(qz_common PUBLIC qz_log qz_platform)

add_library(qz_device STATIC device/device_install.cpp device/device_install_exit.cpp
                              device/models_decoration.cpp)
target_link_libraries(qz_device PUBLIC qz_common qz_platform)

set(QZ_LIBRARIES qz_platform qz_log qz_common qz_device)
if(NOT QZ_TARGET STREQUAL "helper64")
  add_library(qz_setup STATIC setup/install_paths.cpp setup/file_swap.cpp
                              setup/modem_inf_patch.cpp setup/system_file_deployment.cpp
                              setup/driver_preinstall.cpp setup/publisher_trust.cpp
                              setup/unseen_prompts.cpp setup/present_devices.cpp
                              setup/run_driver_setup.cpp)
  target_link_libraries(qz_setup PUBLIC qz_device qz_common qz_log qz_platform)

  add_library(qz_remove STATIC remove/driver_removal.cpp)
  target_link_libraries(qz_remove PUBLIC qz_common qz_log qz_platform)
  list(APPEND QZ_LIBRARIES qz_setup qz_remove)
endif()
foreach(library IN LISTS QZ_LIBRARIES)
  qz_warnings(${library})
endforeach()

# The shipped program: 32-bit, GUI subsystem (no console), statically linked.
set(QZ_WINDOWS_DEFINITIONS _WIN32_WINNT=0x0501 WINVER=0x0501)
target_compile_definitions(qz_logic PUBLIC ${QZ_WINDOWS_DEFINITIONS})
target_compile_definitions(qz_messages PRIVATE ${QZ_WINDOWS_DEFINITIONS})

add_executable(QZ_DriverSetup WIN32
  setup/main.cpp
  platform/windows_platform_ops.cpp)
target_link_libraries(QZ_DriverSetup PRIVATE qz_logic setupapi)
target_link_options(QZ_DriverSetup PRIVATE -static -static-libgcc -static-libstdc++ -s)
qz_warnings(QZ_DriverSetup)

# Test-only variant whose staging answers "already there" (last error 80), for the Wine runs.
add_executable(qz_staging_error80 WIN32
  tests/e2e/staging_error80_main.cpp
  platform/windows_platform_ops.cpp)
target_link_libraries(qz_staging_error80 PRIVATE qz_logic setupapi)
target_link_options(qz_staging_error80 PRIVATE -static -static-libgcc -static-libstdc++)
qz_warnings(qz_staging_error80)

include(cmake/e2e.cmake)

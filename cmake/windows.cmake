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

include(cmake/e2e.cmake)

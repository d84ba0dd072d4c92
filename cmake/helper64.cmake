# QZ_DeviceInstall64.exe: the set-up program's device step where 64-bit Windows allows it, in a
# 64-bit process. Loadable from XP x64 and Server 2003 (5.2) on.
enable_language(RC)
include(cmake/program.cmake)
qz_program(QZ_DeviceInstall64 DESCRIPTION "QZ USB-to-UART driver install onto connected devices"
           LEVEL asInvoker ARCHITECTURE amd64 SOURCES helper64/main.cpp LIBRARIES qz_device)

#include "platform/windows_platform_ops.h"

#include <windows.h>

#include <cstddef>

#include "platform/windows_sections.h"

static_assert(sizeof(OsVersionInfoEx) == sizeof(RTL_OSVERSIONINFOEXW), "version record layout");
static_assert(offsetof(OsVersionInfoEx, wServicePackMajor) ==
                  offsetof(RTL_OSVERSIONINFOEXW, wServicePackMajor),
              "version record layout");
static_assert(sizeof(SystemInfo) == sizeof(SYSTEM_INFO), "system info layout");
static_assert(offsetof(SystemInfo, wProcessorLevel) == offsetof(SYSTEM_INFO, wProcessorLevel),
              "system info layout");

PlatformOps WindowsPlatformOps() {
  PlatformOps ops{};
  AddProcessAndSystemOps(&ops);
  AddFileOps(&ops);
  AddRunLockOps(&ops);
  AddDriverStoreOps(&ops);
  AddDeviceOps(&ops);
  // Trust stays empty: AddWindowsTrustOps fills it in, in the one program that has the step.
  return ops;
}

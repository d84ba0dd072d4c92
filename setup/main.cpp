#include "platform/system_dlls.h"
#include "platform/windows_platform_ops.h"
#include "platform/windows_trust_ops.h"
#include "setup/run_driver_setup.h"

int main(int, char**) {
  KeepDllSearchInSystemFolder();
  static PlatformOps ops = WindowsPlatformOps();
  AddWindowsTrustOps(&ops);
  SetPlatform(ops);
  return DriverSetupMain();
}

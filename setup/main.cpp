#include "platform/windows_platform_ops.h"
#include "platform/windows_trust_ops.h"
#include "setup/run_driver_setup.h"

int main(int, char**) {
  static PlatformOps ops = WindowsPlatformOps();
  AddWindowsTrustOps(&ops);
  SetPlatform(ops);
  return DriverSetupMain();
}

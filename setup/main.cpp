#include "platform/windows_platform_ops.h"
#include "setup/run_driver_setup.h"

int main(int, char**) {
  SetPlatform(WindowsPlatformOps());
  return DriverSetupMain();
}

#include "platform/system_dlls.h"
#include "platform/windows_platform_ops.h"
#include "remove/driver_removal.h"

int main(int argc, char** argv) {
  KeepDllSearchInSystemFolder();
  static const PlatformOps ops = WindowsPlatformOps();
  SetPlatform(ops);
  return DriverRemoveMain(argc, argv);
}

#include "platform/windows_platform_ops.h"
#include "remove/driver_removal.h"

int main(int argc, char** argv) {
  static const PlatformOps ops = WindowsPlatformOps();
  SetPlatform(ops);
  return DriverRemoveMain(argc, argv);
}

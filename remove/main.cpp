#include "platform/windows_platform_ops.h"
#include "remove/driver_removal.h"

int main(int, char**) {
  SetPlatform(WindowsPlatformOps());
  return DriverRemoveMain();
}

// QZ_DeviceInstall64.exe PACKAGE_INF STAGED_NAME
// The set-up program's device step in a 64-bit process, where 64-bit Windows allows it; its
// exit code tells the set-up program what happened.
#include "common/dll_search.h"
#include "device/device_install.h"
#include "device/device_install_exit.h"
#include "platform/windows_platform_ops.h"

int main(int argc, char** argv) {
  static const PlatformOps ops = WindowsPlatformOps();
  SetPlatform(ops);
  KeepDllsInSystemFolder();
  if (argc != 3) {
    return 87;  // ERROR_INVALID_PARAMETER: a failure the set-up program reports as such
  }
  const DeviceInstallResult result = InstallDriverFor(
      DevicesNeedingDriver(argv[1], argv[2], DetectNativeArchitecture(), DetectOsVersion()),
      argv[1]);
  return static_cast<int>(EncodeDeviceInstallExit(result));
}

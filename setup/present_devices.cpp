#include "setup/present_devices.h"

#include <string>

#include "common/program_folder.h"
#include "common/windows_release.h"
#include "device/device_install.h"
#include "device/device_install_exit.h"
#include "log/install_log.h"
#include "log/messages.h"
#include "log/record_text.h"

const char kDeviceHelperName[] = "QZ_DeviceInstall64.exe";

namespace {

// The helper redoes the step in a 64-bit process, from the same INF and staged name.
DeviceInstallResult InstallThroughHelper(const char* packageInf, const char* stagedName) {
  DeviceInstallResult result;
  char folder[kPathCapacity];
  char helper[kPathCapacity];
  if (!ProgramFolder(folder) ||
      !FolderPlus(helper, folder, (std::string("\\") + kDeviceHelperName).c_str())) {
    result.failed = true;
    result.error = kErrorFileNotFound;
    return result;
  }
  const std::string commandLine =
      std::string("\"") + helper + "\" \"" + packageInf + "\" \"" + stagedName + "\"";
  std::uint32_t exitCode = 0;
  if (Platform().RunProcessA(helper, commandLine.c_str(), &exitCode) == 0) {
    result.failed = true;
    result.error = Platform().GetLastError();
    return result;
  }
  return DecodeDeviceInstallExit(exitCode);
}

}  // namespace

void InstallOnPresentDevices(const char* packageInf, const char* stagedName) {
  // Asked here in the 32-bit process too, so the helper starts only when a device needs it.
  const std::vector<std::string> ids = DevicesNeedingDriver(packageInf, stagedName);
  if (ids.empty()) {
    return;
  }
  const DeviceInstallResult result = Is64BitWindows() != 0
                                         ? InstallThroughHelper(packageInf, stagedName)
                                         : InstallDriverFor(ids, packageInf);
  if (result.installed) {
    LogInfo(kMsgDevicesInstalled);
  }
  if (result.rebootNeeded) {
    LogInfo(kMsgDevicesNeedRestart);
  }
  if (result.failed) {
    LogInfo(FillRecord(kMsgDevicesInstallFailed, "<code>", std::to_string(result.error)).c_str());
  }
}

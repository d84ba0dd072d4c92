#include "setup/present_devices.h"

#include <iterator>
#include <string>
#include <vector>

#include "common/file_digest.h"
#include "common/program_folder.h"
#include "device/device_install.h"
#include "device/device_install_exit.h"
#include "log/install_log.h"
#include "log/messages.h"
#include "log/record_text.h"
#include "setup/device_helper_digest.h"

const char kDeviceHelperName[] = "QZ_DeviceInstall64.exe";

namespace {

// Reads the helper through the handle that keeps it from being changed, renamed or deleted,
// then starts that same file: nobody can swap it between the check and the start.
DeviceInstallResult RunCheckedHelper(SystemHandle file, const char* helper,
                                     const std::string& commandLine) {
  DeviceInstallResult result;
  result.failed = true;
  std::vector<unsigned char> bytes;
  if (Platform().ReadOpenFile(file, &bytes) == 0) {
    result.error = Platform().GetLastError();
    return result;
  }
  if (Sha256(bytes.data(), bytes.size()) !=
      Digest(std::begin(kDeviceHelperSha256), std::end(kDeviceHelperSha256))) {
    result.error = kErrorInvalidImageHash;
    return result;
  }
  // Not the program's folder: the helper's own relative look-ups stay in the system's.
  char systemFolder[kPathCapacity] = {};
  if (Platform().GetSystemDirectoryA(systemFolder, kPathCapacity) == 0) {
    result.error = Platform().GetLastError();
    return result;
  }
  std::uint32_t exitCode = 0;
  if (Platform().RunProcess(helper, commandLine.c_str(), systemFolder, &exitCode) == 0) {
    result.error = Platform().GetLastError();
    return result;
  }
  return DecodeDeviceInstallExit(exitCode);
}

// The helper redoes the step in a 64-bit process, from the same INF and staged name.
DeviceInstallResult InstallThroughHelper(const char* packageInf, const char* stagedName,
                                         const char* helper) {
  DeviceInstallResult result;
  if (helper[0] == '\0') {
    result.failed = true;
    result.error = kErrorFileNotFound;
    return result;
  }
  const SystemHandle file = Platform().OpenFileSharingReadOnly(helper);
  if (file == nullptr) {
    result.failed = true;
    result.error = Platform().GetLastError();
    return result;
  }
  const std::string commandLine =
      std::string("\"") + helper + "\" \"" + packageInf + "\" \"" + stagedName + "\"";
  result = RunCheckedHelper(file, helper, commandLine);
  Platform().CloseHandle(file);
  return result;
}

}  // namespace

void InstallOnPresentDevices(const char* packageInf, const char* stagedName, const char* helper,
                             NativeArchitecture architecture, const OsVersion& os) {
  // Asked here in the 32-bit process too, so the helper starts only when a device needs it.
  const std::vector<std::string> ids =
      DevicesNeedingDriver(packageInf, stagedName, architecture, os);
  if (ids.empty()) {
    return;
  }
  const DeviceInstallResult result = Is64Bit(architecture)
                                         ? InstallThroughHelper(packageInf, stagedName, helper)
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

#include "setup/run_driver_setup.h"

#include "common/dll_search.h"
#include "common/windows_release.h"
#include "device/device_install.h"
#include "log/install_log.h"
#include "log/messages.h"
#include "setup/driver_preinstall.h"
#include "setup/install_paths.h"
#include "setup/present_devices.h"
#include "setup/publisher_trust.h"
#include "setup/system_file_deployment.h"
#include "setup/unseen_prompts.h"

namespace {

// Answers 1 when the package is in the driver store.
int StagePackage(const InstallPaths& paths, NativeArchitecture architecture, const OsVersion& os) {
  const bool arm64 = architecture == NativeArchitecture::kArm64;
  // ARM64 Windows loads only ARM64 kernel drivers: a package whose models it does not read would
  // be staged for nothing and its devices would stay unknown.
  if (arm64 && !PackageHasModelsFor(paths.driverInfPath, architecture, os)) {
    LogInfo(kMsgNoArm64Driver);
    return 0;
  }
  AvoidUnseenPrompts();
  TrustPackagePublisher(paths.driverInfPath, architecture);
  char stagedInfName[kPathCapacity] = {};
  const int staged = PreinstallDriverPackage(paths.driverInfPath, stagedInfName);
  if (staged != 1) {
    return staged;
  }
  if (arm64) {
    // Neither this x86 process nor the x64 helper may install onto devices there; Windows
    // chooses the staged package when a device next arrives.
    LogInfo(kMsgDevicesOnNextPlug);
  } else {
    InstallOnPresentDevices(paths.driverInfPath, stagedInfName, paths.helperPath, architecture, os);
  }
  return staged;
}

}  // namespace

int RunDriverSetup() {
  InstallPaths built;
  if (!BuildInstallPaths(built)) {
    return kExitNoLog;
  }
  const InstallPaths& paths = built;
  auto log = OpenRunLog(paths.logPath);
  if (!log) {
    return kExitNoLog;
  }
  LogInfo(*log, kMsgDetectingSystem);

  const WindowsRelease release = DetectWindowsRelease();
  const NativeArchitecture architecture = DetectNativeArchitecture();
  const OsVersion os = DetectOsVersion();
  DeploySystemFiles(release, architecture, paths);

  LogInfo(*log, kMsgSeparator);
  LogInfo(*log, kMsgInstallingDriver);
  const int staged = StagePackage(paths, architecture, os);
  LogInfo(*log, staged == 1 ? kMsgPreinstallSummarySucceeded : kMsgPreinstallSummaryFailed);
  return kExitDone;
}

int DriverSetupMain() {
  KeepDllsInSystemFolder();
  return RunHoldingLock(RunDriverSetup);
}

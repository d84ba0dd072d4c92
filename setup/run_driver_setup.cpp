#include "setup/run_driver_setup.h"

#include "common/windows_release.h"
#include "log/install_log.h"
#include "log/messages.h"
#include "setup/driver_preinstall.h"
#include "setup/install_paths.h"
#include "setup/present_devices.h"
#include "setup/publisher_trust.h"
#include "setup/system_file_deployment.h"
#include "setup/unseen_prompts.h"

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
  DeploySystemFiles(release, paths);

  char stagedInfName[kPathCapacity] = {};
  LogInfo(*log, kMsgSeparator);
  LogInfo(*log, kMsgInstallingDriver);
  AvoidUnseenPrompts();
  TrustPackagePublisher(paths.driverInfPath);
  const int staged = PreinstallDriverPackage(paths.driverInfPath, stagedInfName);
  if (staged == 1) {
    InstallOnPresentDevices(paths.driverInfPath, stagedInfName, paths.helperPath);
  }
  LogInfo(*log, staged == 1 ? kMsgPreinstallSummarySucceeded : kMsgPreinstallSummaryFailed);
  return kExitDone;
}

int DriverSetupMain() { return RunHoldingLock(RunDriverSetup); }

// The installer package's check after the set-up program has run. The set-up program exits with
// 0 once its log is open, whatever happened; a fleet tool trusts an installer that reports
// success, so the install fails unless the driver store really holds the package.
#include <string>

#include "common/program_folder.h"
#include "platform/platform_ops.h"
#include "platform/windows_installer.h"
#include "platform/windows_platform_ops.h"
#include "remove/driver_removal.h"

namespace {

// Windows Installer's answers for a custom action.
constexpr unsigned kActionSucceeded = 0;  // ERROR_SUCCESS
constexpr unsigned kActionFailed = 1603;  // ERROR_INSTALL_FAILURE: the install is rolled back

}  // namespace

// The package hands over the folder it installed into (with or without its last backslash).
extern "C" __declspec(dllexport) unsigned __stdcall CheckPackageStaged(InstallerSession session) {
  static const PlatformOps ops = WindowsPlatformOps();
  SetPlatform(ops);
  std::string folder = InstallerActionData(session);
  while (!folder.empty() && folder.back() == '\\') {
    folder.pop_back();
  }
  if (folder.empty()) {
    InstallerLogLine(session, "QZ_DriverSetup: the installed folder was not handed over");
    return kActionFailed;
  }
  const std::string inf = folder + kPackageInfSuffix;
  if (ThisReleaseStaged(inf.c_str())) {
    InstallerLogLine(session, "QZ_DriverSetup: the driver store holds the package of " + inf);
    return kActionSucceeded;
  }
  // An earlier release may still be staged; only this one's very INF makes the install good.
  InstallerLogLine(session, "QZ_DriverSetup: the driver store does not hold the package of " + inf +
                                " after QZ_DriverSetup.exe ran; its log says why: " + folder +
                                kLogSuffix);
  return kActionFailed;
}

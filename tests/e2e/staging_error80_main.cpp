// The real program with one platform answer changed: staging fails with ERROR_FILE_EXISTS, as
// when the store already holds the package.
//
// With "--stage-only" it runs the staging alone and exits with its result, and the install log
// is only opened inside the platform call, so the failure record is the first record the
// process writes. Under this toolchain that first record resets the thread's last error: the
// result is 1 only if the error was read before any record.
#include <windows.h>

#include <cstring>

#include "log/install_log.h"
#include "platform/windows_platform_ops.h"
#include "platform/windows_trust_ops.h"
#include "setup/driver_preinstall.h"
#include "setup/install_paths.h"
#include "setup/run_driver_setup.h"

namespace {

bool g_openLogInCall = false;
InstallPaths g_paths;

int AlreadyStaged(const char*, const char*, std::uint32_t, std::uint32_t, char* destinationName,
                  std::uint32_t destinationNameSize, std::uint32_t*, char** component) {
  if (g_openLogInCall && !CreateInstallLog(kInstallLoggerName, g_paths.logPath)) {
    ExitProcess(3);
  }
  const char kStaged[] = "C:\\Windows\\INF\\oem42.inf";
  lstrcpynA(destinationName, kStaged, static_cast<int>(destinationNameSize));
  if (component != nullptr) {
    *component = destinationName + (sizeof kStaged - sizeof "oem42.inf");
  }
  SetLastError(ERROR_FILE_EXISTS);
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  static PlatformOps ops = WindowsPlatformOps();
  AddWindowsTrustOps(&ops);
  ops.SetupCopyOEMInfA = AlreadyStaged;
  SetPlatform(ops);
  if (argc < 2 || std::strcmp(argv[1], "--stage-only") != 0) {
    return DriverSetupMain();
  }
  if (!BuildInstallPaths(g_paths)) {
    return 3;
  }
  g_openLogInCall = true;
  char staged[kPathCapacity] = {};
  const int result = PreinstallDriverPackage(g_paths.driverInfPath, staged);
  CloseInstallLog();
  return result;
}

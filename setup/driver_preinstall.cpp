#include "setup/driver_preinstall.h"

#include <cstring>

#include "log/install_log.h"
#include "log/messages.h"

namespace {

void CopyStagedName(const char* component, char (&stagedName)[kPathCapacity]) {
  if (component == nullptr) {
    return;
  }
  std::strncpy(stagedName, component, kPathCapacity - 1);
  stagedName[kPathCapacity - 1] = '\0';
}

}  // namespace

int PreinstallDriverPackage(const char* sourceInf, char (&stagedName)[kPathCapacity]) {
  LogInfo(kMsgPreinstallCalling);
  char destinationName[kPathCapacity];
  std::memset(destinationName, 0, sizeof destinationName);
  char* component = nullptr;

  // An empty source means the package path did not fit; it fails like a missing file.
  int staged = 0;
  std::uint32_t error = 0;
  if (sourceInf[0] != '\0') {
    staged = Platform().SetupCopyOEMInfA(sourceInf, nullptr, kSpostPath, kSpCopyNewerOrSame,
                                         destinationName, kPathCapacity, nullptr, &component);
    // Read before any record is written: writing one may reset the thread's last error.
    error = staged != 0 ? 0 : Platform().GetLastError();
  }

  if (staged != 0) {
    LogInfo(kMsgPreinstallCallSucceeded);
    CopyStagedName(component, stagedName);
    return 1;
  }
  LogInfo(kMsgPreinstallCallFailed);
  if (error == kErrorFileExists) {
    LogInfo(kMsgPreinstallAlreadyStaged);
    CopyStagedName(component, stagedName);
    return 1;
  }
  LogInfo(kMsgPreinstallFailed);
  return 0;
}

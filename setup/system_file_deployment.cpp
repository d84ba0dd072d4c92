#include "setup/system_file_deployment.h"

#include <cstring>

#include "common/program_folder.h"
#include "log/install_log.h"
#include "log/messages.h"
#include "platform/platform_ops.h"
#include "setup/file_swap.h"
#include "setup/modem_inf_patch.h"

namespace {

// Under the system's Windows folder, wherever this installation has it.
const char kModemInfSuffix[] = "\\inf\\mdmcpq.inf";
const char kSystem32DriverSuffix[] = "\\System32\\drivers\\usbser.sys";
const char kSysWow64DriverSuffix[] = "\\SysWOW64\\drivers\\usbser.sys";

// The system files the deployment writes. A path is empty when Windows could not name its
// folder or the path does not fit: its step then fails as a copy that cannot be made, and
// nothing is written anywhere else.
struct SystemFiles {
  char modemInf[kPathCapacity];
  char system32Driver[kPathCapacity];
  char sysWow64Driver[kPathCapacity];
};

SystemFiles LocateSystemFiles() {
  SystemFiles files{};
  char windows[kPathCapacity];
  if (!SystemWindowsFolder(windows)) {
    return files;
  }
  FolderPlus(files.modemInf, windows, kModemInfSuffix);
  FolderPlus(files.system32Driver, windows, kSystem32DriverSuffix);
  FolderPlus(files.sysWow64Driver, windows, kSysWow64DriverSuffix);
  return files;
}

enum class DriverCopy {
  kNone,
  // Fail-if-exists copy into System32, with redirection as it is.
  kPlain,
  // The same copy with redirection off, so a 32-bit process reaches the native System32.
  kRedirectionOff,
  // Overwriting copies into both System32 and SysWOW64, with redirection off.
  kWindows7x64,
};

struct DeploymentRow {
  WindowsRelease release;
  int is64Bit;
  const char* firstRecord;
  const char* infSubPath;  // null, as the driver sub-path, where nothing is deployed
  DriverCopy driverCopy;
  const char* driverSubPath;
  const char* redirectionFailure;
};

const DeploymentRow kRows[] = {
    {WindowsRelease::kXp, 0, kMsgWindowsXp32, "xp\\mdmcpq.inf", DriverCopy::kPlain,
     "xp\\usbser.sys", nullptr},
    {WindowsRelease::kXp, 1, kMsgWindowsXp64, "xp\\mdmcpq.inf", DriverCopy::kPlain,
     "xp\\usbser.sys", nullptr},
    {WindowsRelease::kVista, 0, kMsgWindowsVista32, nullptr, DriverCopy::kNone, nullptr, nullptr},
    {WindowsRelease::kVista, 1, kMsgWindowsVista64, nullptr, DriverCopy::kNone, nullptr, nullptr},
    {WindowsRelease::kWindows7, 0, kMsgWindows7_32, "win7_32bit\\mdmcpq.inf", DriverCopy::kPlain,
     "win7_32bit\\usbser.sys", nullptr},
    {WindowsRelease::kWindows7, 1, kMsgWindows7_64, "win7_64bit\\32bits\\mdmcpq.inf",
     DriverCopy::kWindows7x64, "win7_64bit\\64bits\\usbser.sys", kMsgRedirectionOffFailed},
    {WindowsRelease::kWindows8, 0, kMsgWindows8_32, "win8_64bit\\mdmcpq.inf", DriverCopy::kPlain,
     "win8_64bit\\usbser.sys", nullptr},
    {WindowsRelease::kWindows8, 1, kMsgWindows8_64, "win8_64bit\\mdmcpq.inf",
     DriverCopy::kRedirectionOff, "win8_64bit\\usbser.sys", kMsgRedirectionOffFailedWin8},
    {WindowsRelease::kWindows81, 0, kMsgWindows81_32, "win8_64bit\\mdmcpq.inf", DriverCopy::kPlain,
     "win8_64bit\\usbser.sys", nullptr},
    {WindowsRelease::kWindows81, 1, kMsgWindows81_64, "win8_64bit\\mdmcpq.inf",
     DriverCopy::kRedirectionOff, "win8_64bit\\usbser.sys", kMsgRedirectionOffFailed},
    {WindowsRelease::kWindows10, 0, kMsgWindows10_32, "win10\\mdmcpq.inf", DriverCopy::kPlain,
     "win10\\usbser.sys", nullptr},
    {WindowsRelease::kWindows10, 1, kMsgWindows10_64, "win10\\mdmcpq.inf", DriverCopy::kPlain,
     "win10\\usbser.sys", nullptr},
};

// The package file `subPath` under the drivers folder. A source that does not fit is never
// handed on cut off: its copies fail as if the file were missing.
bool SourcePath(char (&source)[kPathCapacity], const InstallPaths& paths, const char* subPath) {
  std::memcpy(source, paths.driversFolder, kPathCapacity);
  return source[0] != '\0' && AppendBounded(source, subPath);
}

void DeployInf(const char* subPath, const InstallPaths& paths, const SystemFiles& system) {
  if (system.modemInf[0] == '\0') {
    LogInfo(kMsgInfOpenFailed);
    return;
  }
  // A run killed inside the swap left the original under its backup name: it goes back before
  // the package's copy could take its place.
  RestoreInterruptedSwap(system.modemInf);
  char source[kPathCapacity];
  if (SourcePath(source, paths, subPath) && Platform().CopyFileA(source, system.modemInf, 1) != 0) {
    LogInfo(kMsgInfCopied);
  } else {
    PatchModemInf(system.modemInf);
  }
}

void DeployDriver(const char* subPath, const InstallPaths& paths, const SystemFiles& system) {
  const char* destination = system.system32Driver;
  char source[kPathCapacity];
  const bool copied = destination[0] != '\0' && SourcePath(source, paths, subPath) &&
                      Platform().CopyFileA(source, destination, 1) != 0;
  if (copied) {
    LogInfo(kMsgDriverCopied);
    return;
  }
  // Asked under the same redirection as the copy, so it looks where the copy went.
  const bool present = destination[0] != '\0' &&
                       Platform().GetFileAttributesA(destination) != kInvalidFileAttributes;
  LogInfo(present ? kMsgDriverPresent : kMsgDriverCopyFailed);
}

// The only copies that replace what the system already has.
void DeployWindows7x64Drivers(const char* subPath, const InstallPaths& paths,
                              const SystemFiles& system) {
  char source[kPathCapacity];
  const bool fits = SourcePath(source, paths, subPath);
  const auto copy = [&](const char* destination) {
    return fits && destination[0] != '\0' && Platform().CopyFileA(source, destination, 0) != 0;
  };
  LogInfo(copy(system.system32Driver) ? kMsgSystem32DriverCopied : kMsgSystem32DriverCopyFailed);
  LogInfo(copy(system.sysWow64Driver) ? kMsgSysWow64DriverCopied : kMsgSysWow64DriverCopyFailed);
}

void DeployDriversWithRedirectionOff(const DeploymentRow& row, const InstallPaths& paths,
                                     const SystemFiles& system) {
  if (Platform().Wow64EnableWow64FsRedirection(0) == 0) {
    LogInfo(row.redirectionFailure);
    return;
  }
  // Switched back on right after the copies: nothing between can leave the block early.
  if (row.driverCopy == DriverCopy::kWindows7x64) {
    DeployWindows7x64Drivers(row.driverSubPath, paths, system);
  } else {
    DeployDriver(row.driverSubPath, paths, system);
  }
  Platform().Wow64EnableWow64FsRedirection(1);
}

// The release records predate ARM64 and say only 64Bits: the processor gets a record of its own,
// right after the one that names the release.
void NameArm64Processor(NativeArchitecture architecture) {
  if (architecture == NativeArchitecture::kArm64) {
    LogInfo(kMsgArm64Processor);
  }
}

}  // namespace

void DeploySystemFiles(WindowsRelease release, NativeArchitecture architecture,
                       const InstallPaths& paths) {
  if (release == WindowsRelease::kUnknown) {
    LogInfo(kMsgReleaseUnsupported);
    NameArm64Processor(architecture);
    return;
  }
  const int is64Bit = Is64Bit(architecture) ? 1 : 0;
  for (const DeploymentRow& row : kRows) {
    if (row.release != release || row.is64Bit != is64Bit) {
      continue;
    }
    LogInfo(row.firstRecord);
    NameArm64Processor(architecture);
    if (row.driverCopy == DriverCopy::kNone) {
      return;
    }
    const SystemFiles system = LocateSystemFiles();
    DeployInf(row.infSubPath, paths, system);
    switch (row.driverCopy) {
      case DriverCopy::kNone:
        break;
      case DriverCopy::kPlain:
        DeployDriver(row.driverSubPath, paths, system);
        break;
      case DriverCopy::kRedirectionOff:
      case DriverCopy::kWindows7x64:
        DeployDriversWithRedirectionOff(row, paths, system);
        break;
    }
    return;
  }
}

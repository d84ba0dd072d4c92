#include "setup/install_paths.h"

#include <cstring>

bool BuildInstallPaths(InstallPaths& paths) {
  std::memset(&paths, 0, sizeof paths);
  char folder[kPathCapacity];
  if (!ProgramFolder(folder)) {
    return false;
  }
  if (!FolderPlus(paths.logPath, folder, kLogSuffix)) {
    return false;
  }
  FolderPlus(paths.driverInfPath, folder, kPackageInfSuffix);
  FolderPlus(paths.infSourcePath, folder, "\\Drivers\\");
  FolderPlus(paths.sysSourcePath, folder, "\\Drivers\\");
  FolderPlus(paths.sysSourcePath64, folder, "\\Drivers\\");
  return true;
}

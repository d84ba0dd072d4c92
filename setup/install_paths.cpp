#include "setup/install_paths.h"

#include <cstring>
#include <string>

#include "setup/present_devices.h"

bool BuildInstallPaths(InstallPaths& paths) {
  paths = InstallPaths{};
  char folder[kPathCapacity];
  if (!ProgramFolder(folder)) {
    return false;
  }
  if (!FolderPlus(paths.logPath, folder, kLogSuffix)) {
    return false;
  }
  FolderPlus(paths.driverInfPath, folder, kPackageInfSuffix);
  FolderPlus(paths.driversFolder, folder, "\\Drivers\\");
  FolderPlus(paths.helperPath, folder, (std::string("\\") + kDeviceHelperName).c_str());
  return true;
}

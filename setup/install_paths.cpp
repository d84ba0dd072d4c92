#include "setup/install_paths.h"

#include <cstring>

bool AppendBounded(char (&buffer)[kPathCapacity], const char* suffix) {
  const std::size_t used = std::strlen(buffer);
  const std::size_t extra = std::strlen(suffix);
  if (used + extra + 1 > kPathCapacity) {
    return false;
  }
  std::memcpy(buffer + used, suffix, extra + 1);
  return true;
}

namespace {

bool ProgramFolder(char (&folder)[kPathCapacity]) {
  std::memset(folder, 0, sizeof folder);
  const std::uint32_t length = Platform().GetModuleFileNameA(nullptr, folder, kPathCapacity);
  // A full buffer means the answer was cut off (and, on XP, left unterminated).
  if (length == 0 || length >= kPathCapacity) {
    return false;
  }
  char* lastSeparator = std::strrchr(folder, '\\');
  if (lastSeparator == nullptr) {
    return false;
  }
  // Clear the program's file name too, so no stale bytes follow any path built from here.
  std::memset(lastSeparator, 0, static_cast<std::size_t>(folder + kPathCapacity - lastSeparator));
  return true;
}

bool FolderPlus(char (&buffer)[kPathCapacity], const char (&folder)[kPathCapacity],
                const char* suffix) {
  std::memcpy(buffer, folder, kPathCapacity);
  if (AppendBounded(buffer, suffix)) {
    return true;
  }
  std::memset(buffer, 0, kPathCapacity);
  return false;
}

}  // namespace

bool BuildInstallPaths(InstallPaths& paths) {
  std::memset(&paths, 0, sizeof paths);
  char folder[kPathCapacity];
  if (!ProgramFolder(folder)) {
    return false;
  }
  if (!FolderPlus(paths.logPath, folder, "\\logs\\QZ_Orvo_Driver_Log.txt")) {
    return false;
  }
  FolderPlus(paths.driverInfPath, folder, "\\Drivers\\QZ_UsbToUartDriver.inf");
  FolderPlus(paths.infSourcePath, folder, "\\Drivers\\");
  FolderPlus(paths.sysSourcePath, folder, "\\Drivers\\");
  FolderPlus(paths.sysSourcePath64, folder, "\\Drivers\\");
  return true;
}

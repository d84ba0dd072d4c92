#include "common/program_folder.h"

#include <cstring>

const char kLogSuffix[] = "\\logs\\QZ_Orvo_Driver_Log.txt";
const char kPackageInfSuffix[] = "\\Drivers\\QZ_UsbToUartDriver.inf";

bool AppendBounded(char (&buffer)[kPathCapacity], const char* suffix) {
  const std::size_t used = std::strlen(buffer);
  const std::size_t extra = std::strlen(suffix);
  if (used + extra + 1 > kPathCapacity) {
    return false;
  }
  std::memcpy(buffer + used, suffix, extra + 1);
  return true;
}

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

bool FolderPlus(char (&path)[kPathCapacity], const char (&folder)[kPathCapacity],
                const char* suffix) {
  std::memcpy(path, folder, kPathCapacity);
  if (AppendBounded(path, suffix)) {
    return true;
  }
  std::memset(path, 0, kPathCapacity);
  return false;
}

bool SystemWindowsFolder(char (&folder)[kPathCapacity]) {
  std::memset(folder, 0, sizeof folder);
  if (Platform().GetSystemWindowsDirectory(folder, kPathCapacity) == 0 || folder[0] == '\0') {
    std::memset(folder, 0, sizeof folder);
    return false;
  }
  const std::size_t length = std::strlen(folder);
  if (folder[length - 1] == '\\') {
    folder[length - 1] = '\0';
  }
  return true;
}

#include "remove/driver_removal.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "common/file_digest.h"
#include "common/program_folder.h"
#include "log/install_log.h"
#include "log/messages.h"
#include "log/record_text.h"
#include "platform/platform_ops.h"

namespace {

constexpr char kPackageInfName[] = "QZ_UsbToUartDriver.inf";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// File names and providers as Windows compares them: ASCII letters in either case.
bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string VersionString(const char* infPath, const char* key) {
  char value[kPathCapacity] = {};
  return Platform().ReadInfVersionString(infPath, key, value, kPathCapacity) != 0 ? value : "";
}

std::string FileNameOf(const std::string& path) {
  const std::size_t cut = path.find_last_of('\\');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Windows names every staged INF oemN.inf; Wine keeps a free source name. The rest of the
// folder is Windows' own.
std::vector<std::string> Candidates(const std::string& infFolder) {
  std::vector<std::string> paths;
  std::set<std::string> seen;
  for (const std::string& pattern : {infFolder + "oem*.inf", infFolder + kPackageInfName}) {
    for (const std::string& path : Platform().FindFiles(pattern.c_str())) {
      std::string key = path;
      std::transform(key.begin(), key.end(), key.begin(), Lower);
      if (seen.insert(key).second) {
        paths.push_back(path);
      }
    }
  }
  return paths;
}

// With `bytesOnly` the Setup API is not asked what the INF was staged from, nor its provider.
PublishedInf Describe(const std::string& path, const std::string& ours, bool bytesOnly) {
  PublishedInf inf{FileNameOf(path), false, "", ""};
  std::string bytes;
  inf.sameBytes = ReadWholeFile(path.c_str(), bytes) && bytes == ours;
  if (!inf.sameBytes && !bytesOnly) {
    char original[kPathCapacity] = {};
    if (Platform().QueryInfOriginalFileName(path.c_str(), original, kPathCapacity) != 0) {
      inf.originalName = original;
    }
    if (SameIgnoringCase(inf.originalName, kPackageInfName)) {
      inf.provider = VersionString(path.c_str(), "Provider");
    }
  }
  return inf;
}

// Counts only when the INF is gone from the folder afterwards, whatever the call answered.
bool Remove(const std::string& path) {
  const std::string name = FileNameOf(path);
  Platform().SetupUninstallOEMInfA(name.c_str(), kSuoiForceDelete);
  const std::uint32_t error = Platform().GetLastError();
  if (Platform().GetFileAttributesA(path.c_str()) == kInvalidFileAttributes) {
    LogInfo(FillRecord(kMsgPackageRemoved, "<name>", name).c_str());
    return true;
  }
  LogInfo(FillRecord(FillRecord(kMsgPackageRemovalFailed, "<name>", name), "<code>",
                     std::to_string(error))
              .c_str());
  return false;
}

// The staged copies of the package out of the system's INF folder: those IsThisPackage picks,
// or only this release's very bytes.
struct StagedCopies {
  bool identified = false;  // the package INF could be read
  bool searched = false;    // and the system's INF folder found
  std::vector<std::string> paths;
};

StagedCopies FindStagedCopies(const char* packageInfPath, bool thisReleaseOnly) {
  StagedCopies copies;
  std::string ours;
  if (packageInfPath[0] == '\0' || !ReadWholeFile(packageInfPath, ours)) {
    return copies;
  }
  copies.identified = true;
  const std::string ourProvider =
      thisReleaseOnly ? std::string() : VersionString(packageInfPath, "Provider");
  char windows[kPathCapacity] = {};
  if (Platform().GetSystemWindowsDirectory(windows, kPathCapacity) == 0) {
    return copies;
  }
  copies.searched = true;
  for (const std::string& path : Candidates(std::string(windows) + "\\inf\\")) {
    const PublishedInf inf = Describe(path, ours, thisReleaseOnly);
    if (thisReleaseOnly ? inf.sameBytes : IsThisPackage(inf, ourProvider)) {
      copies.paths.push_back(path);
    }
  }
  return copies;
}

}  // namespace

bool IsThisPackage(const PublishedInf& inf, const std::string& ourProvider) {
  if (inf.sameBytes) {
    return true;
  }
  return SameIgnoringCase(inf.originalName, kPackageInfName) && !ourProvider.empty() &&
         SameIgnoringCase(inf.provider, ourProvider);
}

bool ThisReleaseStaged(const char* packageInfPath) {
  return !FindStagedCopies(packageInfPath, true).paths.empty();
}

bool RemoveDriverPackages(const char* packageInfPath) {
  const StagedCopies copies = FindStagedCopies(packageInfPath, false);
  if (!copies.identified) {
    LogInfo(kMsgPackageUnidentified);
    return false;
  }
  if (!copies.searched) {
    return false;
  }
  bool allRemoved = true;
  for (const std::string& path : copies.paths) {
    allRemoved = Remove(path) && allRemoved;
  }
  if (copies.paths.empty()) {
    LogInfo(kMsgNoPackageFound);
  }
  return allRemoved;
}

int RunDriverRemoval() {
  char folder[kPathCapacity];
  char logPath[kPathCapacity];
  if (!ProgramFolder(folder) || !FolderPlus(logPath, folder, kLogSuffix)) {
    return kExitNoLog;
  }
  char packageInfPath[kPathCapacity];
  FolderPlus(packageInfPath, folder, kPackageInfSuffix);
  auto log = OpenRunLog(logPath);
  if (!log) {
    return kExitNoLog;
  }
  LogInfo(*log, kMsgRemovingDriver);
  const bool removed = RemoveDriverPackages(packageInfPath);
  LogInfo(*log, removed ? kMsgRemovalSucceeded : kMsgRemovalFailed);
  return kExitDone;
}

int DriverRemoveMain() { return RunHoldingLock(RunDriverRemoval); }

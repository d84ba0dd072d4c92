#include "remove/driver_removal.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "common/dll_search.h"
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

// The INFs staged in the system's INF folder that could be this package's; none, and false,
// when Windows cannot name its folder.
bool StagedCandidates(std::vector<std::string>* paths) {
  char windows[kPathCapacity];
  if (!SystemWindowsFolder(windows)) {
    return false;
  }
  *paths = Candidates(std::string(windows) + "\\inf\\");
  return true;
}

bool Picks(Releases which, const PublishedInf& inf, const std::string& ourProvider) {
  switch (which) {
    case Releases::kThis:
      return inf.sameBytes;
    case Releases::kEarlier:
      return !inf.sameBytes && IsThisPackage(inf, ourProvider);
    case Releases::kEvery:
      break;
  }
  return IsThisPackage(inf, ourProvider);
}

// The staged copies of the package out of the system's INF folder that `which` names.
struct StagedCopies {
  bool identified = false;  // the package INF could be read
  bool searched = false;    // and the system's INF folder found
  std::vector<std::string> paths;
};

StagedCopies FindStagedCopies(const char* packageInfPath, Releases which) {
  StagedCopies copies;
  std::string ours;
  if (packageInfPath[0] == '\0' || !ReadWholeFile(packageInfPath, ours)) {
    return copies;
  }
  copies.identified = true;
  const bool bytesOnly = which == Releases::kThis;
  const std::string ourProvider =
      bytesOnly ? std::string() : VersionString(packageInfPath, "Provider");
  std::vector<std::string> candidates;
  copies.searched = StagedCandidates(&candidates);
  for (const std::string& path : candidates) {
    const PublishedInf inf = Describe(path, ours, bytesOnly);
    if (Picks(which, inf, ourProvider)) {
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

bool RemovalFromArguments(int argc, const char* const* argv, Releases* which) {
  if (argc <= 1) {
    *which = Releases::kEvery;
    return true;
  }
  if (argc != 2) {
    return false;
  }
  if (SameIgnoringCase(argv[1], "/this-release")) {
    *which = Releases::kThis;
    return true;
  }
  if (SameIgnoringCase(argv[1], "/earlier-releases")) {
    *which = Releases::kEarlier;
    return true;
  }
  return false;
}

bool ThisReleaseStaged(const char* packageInfPath) {
  return !FindStagedCopies(packageInfPath, Releases::kThis).paths.empty();
}

bool StagedInfWithSha256(const Digest& sha256) {
  std::vector<std::string> candidates;
  StagedCandidates(&candidates);
  return std::any_of(candidates.begin(), candidates.end(), [&](const std::string& path) {
    std::string bytes;
    return ReadWholeFile(path.c_str(), bytes) && Sha256(bytes) == sha256;
  });
}

bool RemoveDriverPackages(const char* packageInfPath, Releases which) {
  const StagedCopies copies = FindStagedCopies(packageInfPath, which);
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

int RunDriverRemoval(Releases which) {
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
  // The installer package's removals say why they run, so that a log reader can tell them from
  // an uninstall.
  LogInfo(*log, which == Releases::kThis      ? kMsgRemovingRolledBackRelease
                : which == Releases::kEarlier ? kMsgRemovingEarlierReleases
                                              : kMsgRemovingDriver);
  const bool removed = RemoveDriverPackages(packageInfPath, which);
  LogInfo(*log, removed ? kMsgRemovalSucceeded : kMsgRemovalFailed);
  return kExitDone;
}

int DriverRemoveMain(int argc, const char* const* argv) {
  KeepDllsInSystemFolder();
  Releases which = Releases::kEvery;
  if (!RemovalFromArguments(argc, argv, &which)) {
    return kExitUnknownArguments;
  }
  return RunHoldingLock([which] { return RunDriverRemoval(which); });
}

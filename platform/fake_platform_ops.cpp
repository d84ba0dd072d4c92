#include "platform/fake_platform_ops.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

FakePlatform* g_fake = nullptr;

char g_ntdll;
char g_kernel32;

void Record(const std::string& line) { g_fake->calls.push_back(line); }

std::string Narrow(const wchar_t* text) {
  std::string narrow;
  for (; *text != L'\0'; ++text) {
    narrow.push_back(static_cast<char>(*text));
  }
  return narrow;
}

std::string ModuleName(ModuleHandle module) {
  if (module == &g_ntdll) return "ntdll.dll";
  if (module == &g_kernel32) return "kernel32";
  return "null";
}

std::uint32_t FakeGetModuleFileNameA(ModuleHandle module, char* buffer, std::uint32_t capacity) {
  Record("GetModuleFileNameA " + ModuleName(module) + " capacity=" + std::to_string(capacity));
  if (g_fake->moduleFileNameFails) {
    return 0;
  }
  const std::size_t length = g_fake->modulePath.size();
  if (length < capacity) {
    std::memcpy(buffer, g_fake->modulePath.c_str(), length + 1);
    return static_cast<std::uint32_t>(length);
  }
  // As on XP: cut to the capacity, unterminated.
  std::memcpy(buffer, g_fake->modulePath.data(), capacity);
  return capacity;
}

int FakeCopyFileA(const char* source, const char* destination, int failIfExists) {
  Record(std::string("CopyFileA ") + source + " -> " + destination +
         " fail-if-exists=" + std::to_string(failIfExists));
  if (!g_fake->copyAnswers.empty()) {
    const int answer = g_fake->copyAnswers.front();
    g_fake->copyAnswers.pop_front();
    return answer;
  }
  return g_fake->copyAnswer;
}

int FakeWow64EnableWow64FsRedirection(int enable) {
  Record("Wow64EnableWow64FsRedirection " + std::to_string(enable));
  return enable != 0 ? 1 : g_fake->redirectionOffAnswer;
}

ModuleHandle FakeGetModuleHandleW(const wchar_t* name) {
  Record("GetModuleHandleW " + Narrow(name));
  return Narrow(name) == "ntdll.dll" ? &g_ntdll : nullptr;
}

ModuleHandle FakeGetModuleHandleA(const char* name) {
  Record(std::string("GetModuleHandleA ") + name);
  return std::strcmp(name, "kernel32") == 0 ? &g_kernel32 : nullptr;
}

// The version entry point is resolved once per process, so the one handed out stays valid
// across fakes and asks whichever fake is active.
std::int32_t QZ_SYSTEM_CALL FakeRtlGetVersion(OsVersionInfoEx* info) {
  Record("RtlGetVersion size=" + std::to_string(info->dwOSVersionInfoSize));
  OsVersionInfoEx zeroed;
  std::memset(&zeroed, 0, sizeof zeroed);
  zeroed.dwOSVersionInfoSize = info->dwOSVersionInfoSize;
  if (std::memcmp(&zeroed, info, sizeof zeroed) != 0) {
    g_fake->versionRecordWasZeroed = false;
  }
  if (g_fake->rtlGetVersionStatus != 0) {
    return g_fake->rtlGetVersionStatus;
  }
  info->dwMajorVersion = g_fake->majorVersion;
  info->dwMinorVersion = g_fake->minorVersion;
  info->dwBuildNumber = g_fake->buildNumber;
  info->dwPlatformId = 2;
  info->wServicePackMajor = g_fake->servicePackMajor;
  return 0;
}

void QZ_SYSTEM_CALL FakeGetNativeSystemInfo(SystemInfo* info) {
  Record("GetNativeSystemInfo");
  info->wProcessorArchitecture = g_fake->nativeArchitecture;
}

ProcAddress FakeGetProcAddress(ModuleHandle module, const char* name) {
  Record("GetProcAddress " + ModuleName(module) + " " + name);
  if (module == &g_ntdll && std::strcmp(name, "RtlGetVersion") == 0 && g_fake->hasRtlGetVersion) {
    return reinterpret_cast<ProcAddress>(&FakeRtlGetVersion);
  }
  if (module == &g_kernel32 && std::strcmp(name, "GetNativeSystemInfo") == 0 &&
      g_fake->hasGetNativeSystemInfo) {
    return reinterpret_cast<ProcAddress>(&FakeGetNativeSystemInfo);
  }
  return nullptr;
}

void FakeGetSystemInfo(SystemInfo* info) {
  Record("GetSystemInfo");
  info->wProcessorArchitecture = g_fake->processArchitecture;
}

int FakeSetupCopyOEMInfA(const char* sourceInf, const char* mediaLocation, std::uint32_t mediaType,
                         std::uint32_t copyStyle, char* destinationName,
                         std::uint32_t destinationNameSize, std::uint32_t* requiredSize,
                         char** destinationNameComponent) {
  Record(std::string("SetupCopyOEMInfA ") + sourceInf +
         " media=" + (mediaLocation == nullptr ? "null" : mediaLocation) +
         " type=" + std::to_string(mediaType) + " style=" + std::to_string(copyStyle) +
         " size=" + std::to_string(destinationNameSize) +
         " required=" + (requiredSize == nullptr ? "null" : "requested") +
         " component=" + (destinationNameComponent == nullptr ? "null" : "requested"));
  const bool staged = g_fake->setupCopyAnswer != 0;
  if (staged || g_fake->setupCopyError == 80) {
    const std::string full = "C:\\Windows\\INF\\" + g_fake->stagedInfName;
    std::snprintf(destinationName, destinationNameSize, "%s", full.c_str());
    if (g_fake->setupCopySetsComponent && destinationNameComponent != nullptr) {
      *destinationNameComponent = destinationName + (full.size() - g_fake->stagedInfName.size());
    }
  }
  g_fake->lastError = staged ? 0 : g_fake->setupCopyError;
  return g_fake->setupCopyAnswer;
}

std::uint32_t FakeGetLastError() {
  Record("GetLastError");
  return g_fake->lastError;
}

bool Exists(const char* path) {
  struct stat status;
  return stat(path, &status) == 0;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// Renames a real file, its attribute bits going with it.
bool MoveWithAttributes(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    return false;
  }
  auto& attributes = g_fake->attributes;
  const auto entry = attributes.find(from);
  attributes.erase(to);
  if (entry != attributes.end()) {
    attributes[to] = entry->second;
    attributes.erase(from);
  }
  return true;
}

int FakeReplaceFileA(const char* replaced, const char* replacement, const char* backup) {
  Record(std::string("ReplaceFileA ") + replaced + " <- " + replacement +
         " backup=" + (backup == nullptr ? "null" : backup));
  // As on Windows and Wine: a read-only file is never replaced.
  const auto entry = g_fake->attributes.find(replaced);
  if (entry != g_fake->attributes.end() && (entry->second & kFileAttributeReadOnly) != 0) {
    g_fake->lastError = 5;
    return 0;
  }
  using Effect = FakePlatform::ReplaceEffect;
  switch (g_fake->replaceEffect) {
    case Effect::kReplaces:
      if (backup != nullptr && !MoveWithAttributes(replaced, backup)) {
        return 0;
      }
      if (!MoveWithAttributes(replacement, replaced)) {
        return 0;
      }
      g_fake->attributes.erase(replaced);
      return 1;
    case Effect::kLeavesBoth:
      break;
    case Effect::kRemovesReplaced:
      std::remove(replaced);
      g_fake->attributes.erase(replaced);
      break;
    case Effect::kMovesReplacedToBackup:
      MoveWithAttributes(replaced, backup);
      break;
  }
  g_fake->lastError = g_fake->replaceError;
  return 0;
}

int FakeDirectoryExists(const char* path) {
  Record(std::string("DirectoryExists ") + path);
  if (g_fake->directoryExistsAnswer) {
    return *g_fake->directoryExistsAnswer;
  }
  struct stat status;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode) ? 1 : 0;
}

char g_mutex;

SystemHandle FakeCreateMutexA(const char* name) {
  Record(std::string("CreateMutexA ") + name);
  return g_fake->mutexCreateFails ? nullptr : &g_mutex;
}

std::uint32_t FakeWaitForSingleObject(SystemHandle handle) {
  Record(handle == &g_mutex ? "WaitForSingleObject mutex" : "WaitForSingleObject ?");
  if (g_fake->onWait) g_fake->onWait();
  return g_fake->waitAnswer;
}

int FakeReleaseMutex(SystemHandle handle) {
  Record(handle == &g_mutex ? "ReleaseMutex mutex" : "ReleaseMutex ?");
  if (g_fake->onReleaseMutex) g_fake->onReleaseMutex();
  return 1;
}

int FakeCloseHandle(SystemHandle handle) {
  Record(handle == &g_mutex ? "CloseHandle mutex" : "CloseHandle ?");
  return 1;
}

std::uint32_t FakeGetCurrentProcessId() {
  Record("GetCurrentProcessId");
  return g_fake->processId;
}

std::uint32_t FakeGetFileAttributesA(const char* path) {
  Record(std::string("GetFileAttributesA ") + path);
  if (!Exists(path)) {
    return kInvalidFileAttributes;
  }
  const auto entry = g_fake->attributes.find(path);
  return entry == g_fake->attributes.end() ? kFileAttributeArchive : entry->second;
}

int FakeSetFileAttributesA(const char* path, std::uint32_t attributes) {
  Record(std::string("SetFileAttributesA ") + path + " " + Hex(attributes));
  if (!Exists(path)) {
    return 0;
  }
  // Windows answers "normal" for a file with no bits.
  g_fake->attributes[path] = attributes == 0 ? kFileAttributeNormal : attributes;
  return 1;
}

int FakeMoveFileA(const char* from, const char* to) {
  Record(std::string("MoveFileA ") + from + " -> " + to);
  if (Exists(to)) {
    return 0;
  }
  return MoveWithAttributes(from, to) ? 1 : 0;
}

int FakeDeleteFileA(const char* path) {
  Record(std::string("DeleteFileA ") + path);
  const auto entry = g_fake->attributes.find(path);
  if (entry != g_fake->attributes.end() && (entry->second & kFileAttributeReadOnly) != 0) {
    return 0;
  }
  if (unlink(path) != 0) {
    return 0;
  }
  g_fake->attributes.erase(path);
  return 1;
}

// The folder part ends at the last "/" (host paths); a Windows path such as
// "C:\Windows\inf\mdmcpq.inf" is one file name in the current folder.
std::vector<std::string> FakeFindFilesA(const char* pattern) {
  Record(std::string("FindFilesA ") + pattern);
  const std::string text(pattern);
  const std::size_t cut = text.rfind('/');
  const std::string folder = cut == std::string::npos ? "." : text.substr(0, cut);
  const std::string namePattern = cut == std::string::npos ? text : text.substr(cut + 1);
  std::vector<std::string> paths;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (fnmatch(namePattern.c_str(), entry->d_name, FNM_NOESCAPE) == 0) {
        paths.push_back(cut == std::string::npos ? entry->d_name : folder + "/" + entry->d_name);
      }
    }
    closedir(dir);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

int FakeGetProcessWindowStationFlags(std::uint32_t* flags) {
  Record("GetProcessWindowStationFlags");
  if (!g_fake->windowStationFlags) {
    return 0;
  }
  *flags = *g_fake->windowStationFlags;
  return 1;
}

int FakeSetupSetNonInteractiveMode(int nonInteractive) {
  Record("SetupSetNonInteractiveMode " + std::to_string(nonInteractive));
  return g_fake->hasNonInteractiveMode ? 1 : 0;
}

int FakeReadInfVersionString(const char* infPath, const char* key, char* value,
                             std::uint32_t capacity) {
  Record(std::string("ReadInfVersionString ") + infPath + " " + key);
  const auto entry = g_fake->infVersion.find(key);
  if (entry == g_fake->infVersion.end() || entry->second.size() >= capacity) {
    return 0;
  }
  std::memcpy(value, entry->second.c_str(), entry->second.size() + 1);
  return 1;
}

void FakeInspectCatalog(const char* path, CatalogFacts* facts) {
  Record(std::string("InspectCatalog ") + path);
  *facts = g_fake->catalog;
}

std::string Bytes(const std::vector<unsigned char>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

int FakeTrustedPublisherHas(const std::vector<unsigned char>& certificate) {
  Record("TrustedPublisherHas " + Bytes(certificate));
  return g_fake->trustedPublisherHasAnswer;
}

int FakeAddTrustedPublisher(const std::vector<unsigned char>& certificate) {
  Record("AddTrustedPublisher " + Bytes(certificate));
  return g_fake->addTrustedPublisherAnswer;
}

const PlatformOps kFakeOps = {
    FakeGetModuleFileNameA,
    FakeCopyFileA,
    FakeWow64EnableWow64FsRedirection,
    FakeGetModuleHandleW,
    FakeGetModuleHandleA,
    FakeGetProcAddress,
    FakeGetSystemInfo,
    FakeSetupCopyOEMInfA,
    FakeGetLastError,
    FakeReplaceFileA,
    FakeDirectoryExists,
    FakeCreateMutexA,
    FakeWaitForSingleObject,
    FakeReleaseMutex,
    FakeCloseHandle,
    FakeGetCurrentProcessId,
    FakeGetFileAttributesA,
    FakeSetFileAttributesA,
    FakeMoveFileA,
    FakeDeleteFileA,
    FakeFindFilesA,
    FakeGetProcessWindowStationFlags,
    FakeSetupSetNonInteractiveMode,
    FakeReadInfVersionString,
    FakeInspectCatalog,
    FakeTrustedPublisherHas,
    FakeAddTrustedPublisher,
};

}  // namespace

void UseFakePlatform(FakePlatform& fake) {
  g_fake = &fake;
  SetPlatform(kFakeOps);
}

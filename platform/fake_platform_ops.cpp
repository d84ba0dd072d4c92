#include "platform/fake_platform_ops.h"

#include <sys/stat.h>

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

int FakeReplaceFileA(const char* replaced, const char* replacement) {
  Record(std::string("ReplaceFileA ") + replaced + " <- " + replacement);
  if (g_fake->replaceAnswer == 0) {
    return 0;
  }
  return std::rename(replacement, replaced) == 0 ? 1 : 0;
}

int FakeDirectoryExists(const char* path) {
  Record(std::string("DirectoryExists ") + path);
  if (g_fake->directoryExistsAnswer) {
    return *g_fake->directoryExistsAnswer;
  }
  struct stat status;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode) ? 1 : 0;
}

const PlatformOps kFakeOps = {
    FakeGetModuleFileNameA, FakeCopyFileA,        FakeWow64EnableWow64FsRedirection,
    FakeGetModuleHandleW,   FakeGetModuleHandleA, FakeGetProcAddress,
    FakeGetSystemInfo,      FakeSetupCopyOEMInfA, FakeGetLastError,
    FakeReplaceFileA,       FakeDirectoryExists,
};

}  // namespace

void UseFakePlatform(FakePlatform& fake) {
  g_fake = &fake;
  SetPlatform(kFakeOps);
}

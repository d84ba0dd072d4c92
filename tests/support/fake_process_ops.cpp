// The process and the system: modules, versions, folders, the window station.
#include <cstring>

#include "tests/support/fake_platform_sections.h"

namespace fake_platform {
namespace {

char g_ntdll;

char g_kernel32;

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
  if (Record("GetModuleFileNameA " + ModuleName(module) +
             " capacity=" + std::to_string(capacity))) {
    return Fail(0u);
  }
  if (g_fake->moduleFileNameError != 0) {
    return Fail(0u, g_fake->moduleFileNameError);
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

ModuleHandle FakeGetModuleHandleW(const wchar_t* name) {
  if (Record("GetModuleHandleW " + Narrow(name))) {
    return Fail<ModuleHandle>(nullptr);
  }
  return Narrow(name) == "ntdll.dll" ? &g_ntdll : nullptr;
}

ModuleHandle FakeGetModuleHandleA(const char* name) {
  if (Record(std::string("GetModuleHandleA ") + name)) {
    return Fail<ModuleHandle>(nullptr);
  }
  return std::strcmp(name, "kernel32") == 0 ? &g_kernel32 : nullptr;
}

// The version entry point is resolved once per process, so the one handed out stays valid
// across fakes and asks whichever fake is active.
std::int32_t QZ_SYSTEM_CALL FakeRtlGetVersion(OsVersionInfoEx* info) {
  const bool fails = Record("RtlGetVersion size=" + std::to_string(info->dwOSVersionInfoSize));
  OsVersionInfoEx zeroed;
  std::memset(&zeroed, 0, sizeof zeroed);
  zeroed.dwOSVersionInfoSize = info->dwOSVersionInfoSize;
  if (std::memcmp(&zeroed, info, sizeof zeroed) != 0) {
    g_fake->versionRecordWasZeroed = false;
  }
  if (fails) {
    return static_cast<std::int32_t>(0xC0000001u);  // STATUS_UNSUCCESSFUL
  }
  if (g_fake->rtlGetVersionStatus != 0) {
    return g_fake->rtlGetVersionStatus;
  }
  info->dwMajorVersion = g_fake->majorVersion;
  info->dwMinorVersion = g_fake->minorVersion;
  info->dwBuildNumber = g_fake->buildNumber;
  info->dwPlatformId = 2;
  info->wServicePackMajor = g_fake->servicePackMajor;
  info->wProductType = g_fake->productType;
  info->wSuiteMask = g_fake->suiteMask;
  return 0;
}

void QZ_SYSTEM_CALL FakeGetNativeSystemInfo(SystemInfo* info) {
  Record("GetNativeSystemInfo");
  info->wProcessorArchitecture = g_fake->nativeArchitecture;
}

int QZ_SYSTEM_CALL FakeIsWow64Process2(SystemHandle process, std::uint16_t* processMachine,
                                       std::uint16_t* nativeMachine) {
  const std::string who = process == CurrentProcessPseudoHandle() ? "current" : "other";
  if (Record("IsWow64Process2 " + who)) {
    return Fail(0);
  }
  if (g_fake->isWow64Process2Error != 0) {
    return Fail(0, g_fake->isWow64Process2Error);
  }
  *processMachine = g_fake->wow64ProcessMachine;
  *nativeMachine = g_fake->wow64NativeMachine;
  return 1;
}

ProcAddress FakeGetProcAddress(ModuleHandle module, const char* name) {
  if (Record("GetProcAddress " + ModuleName(module) + " " + name)) {
    return Fail<ProcAddress>(nullptr);
  }
  if (module == &g_ntdll && std::strcmp(name, "RtlGetVersion") == 0 && g_fake->hasRtlGetVersion) {
    return reinterpret_cast<ProcAddress>(&FakeRtlGetVersion);
  }
  if (module == &g_kernel32 && std::strcmp(name, "GetNativeSystemInfo") == 0 &&
      g_fake->hasGetNativeSystemInfo) {
    return reinterpret_cast<ProcAddress>(&FakeGetNativeSystemInfo);
  }
  if (module == &g_kernel32 && std::strcmp(name, "IsWow64Process2") == 0 &&
      g_fake->hasIsWow64Process2) {
    return reinterpret_cast<ProcAddress>(&FakeIsWow64Process2);
  }
  return nullptr;
}

void FakeGetSystemInfo(SystemInfo* info) {
  Record("GetSystemInfo");
  info->wProcessorArchitecture = g_fake->processArchitecture;
}

std::uint32_t FakeGetLastError() {
  Record("GetLastError");
  return g_fake->lastError;
}

// A handle is gone after CloseHandle whatever it answers.
int FakeCloseHandle(SystemHandle handle) {
  const bool fails = Record("CloseHandle " + HandleName(handle));
  --g_fake->openHandles;
  return fails ? Fail(0) : 1;
}

std::uint32_t FakeGetCurrentProcessId() {
  Record("GetCurrentProcessId");
  return g_fake->processId;
}

int FakeGetProcessWindowStationFlags(std::uint32_t* flags) {
  if (Record("GetProcessWindowStationFlags") || !g_fake->windowStationFlags) {
    return Fail(0);
  }
  *flags = *g_fake->windowStationFlags;
  return 1;
}

int FakeProcessIdToSessionId(std::uint32_t processId, std::uint32_t* session) {
  if (Record("ProcessIdToSessionId " + std::to_string(processId)) || !g_fake->session) {
    return Fail(0);
  }
  *session = *g_fake->session;
  return 1;
}

std::uint32_t FakeGetSystemDirectoryA(char* buffer, std::uint32_t capacity) {
  const std::string folder = g_fake->windowsDirectory + "\\System32";
  if (Record("GetSystemDirectoryA") || Answer(folder, buffer, capacity) == 0) {
    return Fail(0u);
  }
  return static_cast<std::uint32_t>(folder.size());
}

std::uint32_t FakeGetSystemWindowsDirectory(char* buffer, std::uint32_t capacity) {
  if (Record("GetSystemWindowsDirectory")) {
    return Fail(0u);
  }
  if (g_fake->windowsDirectoryError != 0) {
    return Fail(0u, g_fake->windowsDirectoryError);
  }
  if (Answer(g_fake->windowsDirectory, buffer, capacity) == 0) {
    return Fail(0u);
  }
  return static_cast<std::uint32_t>(g_fake->windowsDirectory.size());
}

int FakeConfineDllSearch() {
  if (Record("ConfineDllSearch") || !g_fake->hasDefaultDllDirectories) {
    return 0;
  }
  return 1;
}

int FakePreloadSystemDll(const char* name) {
  if (Record(std::string("PreloadSystemDll ") + name) ||
      g_fake->absentSystemDlls.count(name) != 0) {
    return Fail(0, kErrorModNotFound);
  }
  return 1;
}

}  // namespace

void AddProcessAndSystemFakes(PlatformOps* ops) {
  ops->GetModuleFileNameA = FakeGetModuleFileNameA;
  ops->GetModuleHandleW = FakeGetModuleHandleW;
  ops->GetModuleHandleA = FakeGetModuleHandleA;
  ops->GetProcAddress = FakeGetProcAddress;
  ops->GetSystemInfo = FakeGetSystemInfo;
  ops->GetLastError = FakeGetLastError;
  ops->GetCurrentProcessId = FakeGetCurrentProcessId;
  ops->CloseHandle = FakeCloseHandle;
  ops->GetSystemWindowsDirectory = FakeGetSystemWindowsDirectory;
  ops->GetSystemDirectoryA = FakeGetSystemDirectoryA;
  ops->GetProcessWindowStationFlags = FakeGetProcessWindowStationFlags;
  ops->ProcessIdToSessionId = FakeProcessIdToSessionId;
  ops->ConfineDllSearch = FakeConfineDllSearch;
  ops->PreloadSystemDll = FakePreloadSystemDll;
}

}  // namespace fake_platform

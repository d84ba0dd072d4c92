#pragma once

#include <cstddef>
#include <cstdint>

// Calls resolved at run time must use the system's calling convention, which differs from
// the default only on 32-bit Windows.
#if defined(_WIN32) && defined(__i386__)
#define QZ_SYSTEM_CALL __attribute__((stdcall))
#else
#define QZ_SYSTEM_CALL
#endif

constexpr std::size_t kPathCapacity = 260;

// Same layout as RTL_OSVERSIONINFOEXW, so the logic never needs <windows.h>.
struct OsVersionInfoEx {
  std::uint32_t dwOSVersionInfoSize;
  std::uint32_t dwMajorVersion;
  std::uint32_t dwMinorVersion;
  std::uint32_t dwBuildNumber;
  std::uint32_t dwPlatformId;
  std::uint16_t szCSDVersion[128];
  std::uint16_t wServicePackMajor;
  std::uint16_t wServicePackMinor;
  std::uint16_t wSuiteMask;
  std::uint8_t wProductType;
  std::uint8_t wReserved;
};
static_assert(sizeof(OsVersionInfoEx) == 284, "RTL_OSVERSIONINFOEXW is 284 bytes");

// Same layout as SYSTEM_INFO.
struct SystemInfo {
  std::uint16_t wProcessorArchitecture;
  std::uint16_t wReserved;
  std::uint32_t dwPageSize;
  void* lpMinimumApplicationAddress;
  void* lpMaximumApplicationAddress;
  std::uintptr_t dwActiveProcessorMask;
  std::uint32_t dwNumberOfProcessors;
  std::uint32_t dwProcessorType;
  std::uint32_t dwAllocationGranularity;
  std::uint16_t wProcessorLevel;
  std::uint16_t wProcessorRevision;
};

using ModuleHandle = void*;
using ProcAddress = void (*)();
using RtlGetVersionFn = std::int32_t(QZ_SYSTEM_CALL*)(OsVersionInfoEx*);
using GetNativeSystemInfoFn = void(QZ_SYSTEM_CALL*)(SystemInfo*);

// The Windows operations the logic uses. Integers stand for BOOL: non-zero is success.
struct PlatformOps {
  std::uint32_t (*GetModuleFileNameA)(ModuleHandle module, char* buffer, std::uint32_t capacity);
  int (*CopyFileA)(const char* source, const char* destination, int failIfExists);
  // Absent from 32-bit XP's kernel32; the Windows implementation answers 0 there.
  int (*Wow64EnableWow64FsRedirection)(int enable);
  ModuleHandle (*GetModuleHandleW)(const wchar_t* name);
  ModuleHandle (*GetModuleHandleA)(const char* name);
  ProcAddress (*GetProcAddress)(ModuleHandle module, const char* name);
  void (*GetSystemInfo)(SystemInfo* info);
  int (*SetupCopyOEMInfA)(const char* sourceInf, const char* mediaLocation, std::uint32_t mediaType,
                          std::uint32_t copyStyle, char* destinationName,
                          std::uint32_t destinationNameSize, std::uint32_t* requiredSize,
                          char** destinationNameComponent);
  std::uint32_t (*GetLastError)();
  // Atomically puts `replacement` in place of `replaced`, keeping the replaced file's
  // attributes and security; `replacement` is gone afterwards on success.
  int (*ReplaceFileA)(const char* replaced, const char* replacement);
  int (*DirectoryExists)(const char* path);
};

// The operations the logic calls; set once by the entry (or by a test) before any use.
const PlatformOps& Platform();
void SetPlatform(const PlatformOps& ops);

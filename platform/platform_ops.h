#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
using SystemHandle = void*;
using ProcAddress = void (*)();
using RtlGetVersionFn = std::int32_t(QZ_SYSTEM_CALL*)(OsVersionInfoEx*);
using GetNativeSystemInfoFn = void(QZ_SYSTEM_CALL*)(SystemInfo*);

// WaitForSingleObject's answers.
constexpr std::uint32_t kWaitObject0 = 0x00000000;
constexpr std::uint32_t kWaitAbandoned = 0x00000080;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

// GetFileAttributesA's answer for a path that is not there (or cannot be asked about).
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
constexpr std::uint32_t kFileAttributeReadOnly = 0x00000001;
constexpr std::uint32_t kFileAttributeHidden = 0x00000002;
constexpr std::uint32_t kFileAttributeSystem = 0x00000004;
constexpr std::uint32_t kFileAttributeArchive = 0x00000020;
constexpr std::uint32_t kFileAttributeNormal = 0x00000080;
constexpr std::uint32_t kFileAttributeTemporary = 0x00000100;
constexpr std::uint32_t kFileAttributeOffline = 0x00001000;
constexpr std::uint32_t kFileAttributeNotContentIndexed = 0x00002000;

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
  // Puts `replacement` in place of `replaced`, moving the replaced file to `backup`. Its
  // partial failures can leave the replaced file under the backup name, or missing.
  int (*ReplaceFileA)(const char* replaced, const char* replacement, const char* backup);
  int (*DirectoryExists)(const char* path);

  // A named mutex: opened when another process created it; null when neither works.
  SystemHandle (*CreateMutexA)(const char* name);
  // Waits without a time limit; answers kWaitObject0, kWaitAbandoned or kWaitFailed.
  std::uint32_t (*WaitForSingleObject)(SystemHandle handle);
  int (*ReleaseMutex)(SystemHandle handle);
  int (*CloseHandle)(SystemHandle handle);

  std::uint32_t (*GetCurrentProcessId)();
  std::uint32_t (*GetFileAttributesA)(const char* path);
  int (*SetFileAttributesA)(const char* path, std::uint32_t attributes);
  // Renames within a volume; fails when `to` exists.
  int (*MoveFileA)(const char* from, const char* to);
  int (*DeleteFileA)(const char* path);
  // Full paths of the files matching `pattern`, whose last component may hold wildcards.
  std::vector<std::string> (*FindFilesA)(const char* pattern);
};

// The operations the logic calls; set once by the entry (or by a test) before any use.
const PlatformOps& Platform();
void SetPlatform(const PlatformOps& ops);

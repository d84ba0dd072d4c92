#pragma once

// Windows' own records, values and error numbers that the logic works with, mirrored here so
// that the logic never needs <windows.h>. The Windows build checks the layouts against the real
// ones.
#include <cstddef>
#include <cstdint>

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

// SYSTEM_INFO's wProcessorArchitecture values.
constexpr std::uint16_t kProcessorArchitectureIntel = 0;
constexpr std::uint16_t kProcessorArchitectureIa64 = 6;
constexpr std::uint16_t kProcessorArchitectureAmd64 = 9;
constexpr std::uint16_t kProcessorArchitectureArm64 = 12;

// WaitForSingleObject's answers.
constexpr std::uint32_t kWaitObject0 = 0x00000000;
constexpr std::uint32_t kWaitAbandoned = 0x00000080;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

// Last errors the logic tells apart.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorModNotFound = 126;
constexpr std::uint32_t kErrorProcNotFound = 127;
// ERROR_INVALID_IMAGE_HASH: a program is not the one this release shipped.
constexpr std::uint32_t kErrorInvalidImageHash = 577;

// The one right a run needs on a mutex another account made: waiting on it (and releasing it).
constexpr std::uint32_t kSynchronizeAccess = 0x00100000;

// GetFileAttributesA's answer for a path that is not there (or cannot be asked about).
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
constexpr std::uint32_t kFileAttributeReadOnly = 0x00000001;
constexpr std::uint32_t kFileAttributeHidden = 0x00000002;
constexpr std::uint32_t kFileAttributeSystem = 0x00000004;
constexpr std::uint32_t kFileAttributeDirectory = 0x00000010;
constexpr std::uint32_t kFileAttributeArchive = 0x00000020;
constexpr std::uint32_t kFileAttributeNormal = 0x00000080;
constexpr std::uint32_t kFileAttributeTemporary = 0x00000100;
constexpr std::uint32_t kFileAttributeReparsePoint = 0x00000400;
constexpr std::uint32_t kFileAttributeOffline = 0x00001000;
constexpr std::uint32_t kFileAttributeNotContentIndexed = 0x00002000;

// GetUserObjectInformationA(UOI_FLAGS): the window station is shown on a desktop someone sees.
constexpr std::uint32_t kWindowStationVisible = 0x0001;

// Errors the Setup API and the device installer answer that the logic tells apart.
constexpr std::uint32_t kErrorFileExists = 80;             // staging: the store holds it already
constexpr std::uint32_t kErrorNoMoreItems = 259;           // every device has it or a better one
constexpr std::uint32_t kErrorNoSuchDevinst = 0xE000020B;  // unplugged since it was listed

// SetupCopyOEMInfA: the source is a path; copy when the store's copy is not newer.
constexpr std::uint32_t kSpostPath = 1;
constexpr std::uint32_t kSpCopyNewerOrSame = 4;
// SetupUninstallOEMInfA: remove the INF even where a device still uses it (it keeps working until
// it is next started, as with pnputil's /force).
constexpr std::uint32_t kSuoiForceDelete = 0x0001;
// UpdateDriverForPlugAndPlayDevicesA: never ask anyone.
constexpr std::uint32_t kInstallFlagNonInteractive = 0x00000004;

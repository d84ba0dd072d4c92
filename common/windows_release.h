#pragma once

#include <cstdint>

#include "platform/platform_ops.h"

// The detected release; each keeps the integer code 0 to 6 it has always had.
enum class WindowsRelease : int {
  kXp = 0,
  kVista = 1,
  kWindows7 = 2,
  kWindows8 = 3,
  kWindows81 = 4,
  kWindows10 = 5,
  kUnknown = 6,  // older than XP, or the version could not be read
};

bool IsWindowsVersionAtLeast(std::uint16_t major, std::uint16_t minor,
                             std::uint16_t servicePackMajor);
WindowsRelease DetectWindowsRelease();

// The running Windows as an INF's TargetOSVersion decorations ask it.
struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t productType = 0;  // VER_NT_WORKSTATION, _DOMAIN_CONTROLLER or _SERVER
  std::uint32_t suiteMask = 0;    // VER_SUITE_* bits
};

// Asked once a run, like the architecture; all zero when the version cannot be read, which no
// versioned decoration fits.
OsVersion DetectOsVersion();
void QueryNativeSystemInfo(SystemInfo* info);

// The machine's processor architecture, whatever this process runs as.
enum class NativeArchitecture { kX86, kAmd64, kIa64, kArm64 };

// Asked once a run: every step then works from the same answer.
NativeArchitecture DetectNativeArchitecture();
bool Is64Bit(NativeArchitecture architecture);
// As INF decorations name it: "x86", "amd64", "ia64" or "arm64".
const char* InfArchitecture(NativeArchitecture architecture);

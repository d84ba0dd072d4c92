#pragma once

#include <cstdint>

#include "platform/platform_ops.h"

// 0 XP, 1 Vista, 2 Windows 7, 3 Windows 8, 4 Windows 8.1, 5 Windows 10,
// 6 older than XP or unknown.
using WindowsRelease = int;

bool IsWindowsVersionAtLeast(std::uint16_t major, std::uint16_t minor,
                             std::uint16_t servicePackMajor);
WindowsRelease DetectWindowsRelease();
void QueryNativeSystemInfo(SystemInfo* info);
int Is64BitWindows();

// This machine's architecture as INF decorations name it: "x86", "amd64", "ia64" or "arm64".
const char* NativeInfArchitecture();

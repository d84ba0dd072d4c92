#pragma once

#include <cstdint>

#include "device/device_install.h"

// The 64-bit helper's exit code, which the set-up program turns into its records. A code the
// helper made carries kDeviceExitTag in its top four bits; any other code is a failure whose
// error is the code itself (the helper's own error, or the status of a helper that died).
//
//   bits 28-31  kDeviceExitTag
//   bit 0       installed           bit 1  restart needed         bit 2  failed
//   bit 3       the error is a Setup API error (0xE0000000 | its low 16 bits)
//   bits 8-23   the error's low 16 bits
constexpr std::uint32_t kDeviceExitTag = 0x50000000;

// Exact for Win32 and Setup API errors; an error of any other kind goes out as the code itself,
// so a failure's error is never cut short (an install that also succeeded then goes unsaid).
std::uint32_t EncodeDeviceInstallExit(const DeviceInstallResult& result);

DeviceInstallResult DecodeDeviceInstallExit(std::uint32_t exitCode);

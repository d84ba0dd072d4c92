#include "device/device_install_exit.h"

namespace {

constexpr std::uint32_t kInstalledBit = 0x1;
constexpr std::uint32_t kRebootBit = 0x2;
constexpr std::uint32_t kFailedBit = 0x4;
constexpr std::uint32_t kSetupApiErrorBit = 0x8;
constexpr std::uint32_t kSetupApiErrorBase = 0xE0000000;
constexpr std::uint32_t kTagMask = 0xF0000000;
// Bits no code of the helper's sets.
constexpr std::uint32_t kUnusedMask = 0x0F0000F0;

}  // namespace

std::uint32_t EncodeDeviceInstallExit(const DeviceInstallResult& result) {
  std::uint32_t code = kDeviceExitTag;
  if (result.installed) code |= kInstalledBit;
  if (result.rebootNeeded) code |= kRebootBit;
  if (!result.failed) {
    return code;
  }
  const std::uint32_t high = result.error & 0xFFFF0000;
  if (high != 0 && high != kSetupApiErrorBase) {
    return result.error;
  }
  code |= kFailedBit | ((result.error & 0xFFFF) << 8);
  if (high == kSetupApiErrorBase) code |= kSetupApiErrorBit;
  return code;
}

DeviceInstallResult DecodeDeviceInstallExit(std::uint32_t exitCode) {
  DeviceInstallResult result;
  if ((exitCode & kTagMask) != kDeviceExitTag || (exitCode & kUnusedMask) != 0) {
    result.failed = true;
    result.error = exitCode;
    return result;
  }
  result.installed = (exitCode & kInstalledBit) != 0;
  result.rebootNeeded = (exitCode & kRebootBit) != 0;
  result.failed = (exitCode & kFailedBit) != 0;
  if (result.failed) {
    result.error = (exitCode >> 8) & 0xFFFF;
    if ((exitCode & kSetupApiErrorBit) != 0) result.error |= kSetupApiErrorBase;
  }
  return result;
}

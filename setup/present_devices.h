#pragma once

#include "common/windows_release.h"
#include "platform/platform_ops.h"

extern const char kDeviceHelperName[];

// After a successful staging: devices already plugged in get the package's driver now, where it
// ranks better than what they have. On 64-bit Windows a 32-bit process may not install onto
// devices, so the 64-bit helper at `helper` (beside the program) does it. Writes records only
// when something happened.
void InstallOnPresentDevices(const char* packageInf, const char* stagedName, const char* helper,
                             NativeArchitecture architecture, const OsVersion& os);

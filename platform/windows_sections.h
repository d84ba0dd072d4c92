#pragma once

#include "platform/platform_ops.h"

// The Windows operations, one file a section of PlatformOps: each fills its part of the table
// by name, and WindowsPlatformOps() assembles them.
void AddProcessAndSystemOps(PlatformOps* ops);
void AddFileOps(PlatformOps* ops);
void AddRunLockOps(PlatformOps* ops);
void AddDriverStoreOps(PlatformOps* ops);
void AddDeviceOps(PlatformOps* ops);

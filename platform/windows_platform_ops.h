#pragma once

#include "platform/platform_ops.h"

// The real operations, for the Windows build.
const PlatformOps& WindowsPlatformOps();

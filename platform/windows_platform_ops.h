#pragma once

#include "platform/platform_ops.h"

// The real operations, for the Windows build, without the trust step's (see
// windows_trust_ops.h): the programs that do not trust publishers carry no crypto code.
PlatformOps WindowsPlatformOps();

#pragma once

#include "platform/platform_ops.h"

// Fills in the trust step's operations: catalog inspection and the Trusted Publishers store.
// crypt32.dll and wintrust.dll are loaded from the system folder on their first use only.
void AddWindowsTrustOps(PlatformOps* ops);

#pragma once

#include "common/windows_release.h"
#include "setup/install_paths.h"

// Puts mdmcpq.inf and usbser.sys in place for `release` on `architecture`, editing an existing
// mdmcpq.inf instead of replacing it. Extends the source buffers of `paths`.
void DeploySystemFiles(WindowsRelease release, NativeArchitecture architecture,
                       const InstallPaths& paths);

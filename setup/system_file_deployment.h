#pragma once

#include "setup/install_paths.h"
#include "setup/windows_release.h"

// Puts mdmcpq.inf and usbser.sys in place for `release`, editing an existing mdmcpq.inf
// instead of replacing it. Extends the source buffers of `paths`.
void DeploySystemFiles(WindowsRelease release, InstallPaths& paths);

#pragma once

#include "common/windows_release.h"
#include "setup/install_paths.h"

// Puts mdmcpq.inf and usbser.sys in place for `release` on `architecture`, editing an existing
// mdmcpq.inf instead of replacing it. The system's files are found under the Windows folder
// Windows names, asked once; where it names none, each step fails and says so.
void DeploySystemFiles(WindowsRelease release, NativeArchitecture architecture,
                       const InstallPaths& paths);

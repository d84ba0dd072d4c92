#pragma once

#include <cstddef>

#include "common/program_folder.h"
#include "platform/platform_ops.h"

struct InstallPaths {
  char driverInfPath[kPathCapacity];
  char infSourcePath[kPathCapacity];
  char logPath[kPathCapacity];
  char sysSourcePath[kPathCapacity];
  char sysSourcePath64[kPathCapacity];
};

// Fills `paths` from the program file's own location. False when that location cannot be
// had whole (no answer, a cut-off answer, no backslash) or the log path does not fit; a
// package path that does not fit is left empty.
bool BuildInstallPaths(InstallPaths& paths);

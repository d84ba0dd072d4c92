#pragma once

#include <cstddef>

#include "platform/platform_ops.h"

struct InstallPaths {
  char driverInfPath[kPathCapacity];
  char infSourcePath[kPathCapacity];
  char logPath[kPathCapacity];
  char sysSourcePath[kPathCapacity];
  char sysSourcePath64[kPathCapacity];
};

// Appends `suffix` only when all of it fits with the terminator; otherwise leaves `buffer`
// untouched and answers false, so no caller ever sees a cut-off path.
bool AppendBounded(char (&buffer)[kPathCapacity], const char* suffix);

// Fills `paths` from the program file's own location. False when that location cannot be
// had whole (no answer, a cut-off answer, no backslash) or the log path does not fit; a
// package path that does not fit is left empty.
bool BuildInstallPaths(InstallPaths& paths);

#pragma once

#include <cstddef>

#include "common/program_folder.h"
#include "platform/platform_ops.h"

// Where the run finds its own files, built once from the program's location; the steps only
// read them and build the source paths they need from the drivers folder.
struct InstallPaths {
  char logPath[kPathCapacity];
  char driverInfPath[kPathCapacity];  // the package INF
  char driversFolder[kPathCapacity];  // "<program folder>\Drivers\"
  char helperPath[kPathCapacity];     // the 64-bit device helper beside the program
};

// Fills `paths` from the program file's own location. False when that location cannot be
// had whole (no answer, a cut-off answer, no backslash) or the log path does not fit; a
// path that does not fit is left empty.
bool BuildInstallPaths(InstallPaths& paths);

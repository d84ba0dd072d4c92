#pragma once

#include "common/program_run.h"

// The whole set-up run. kExitNoLog when the program's own location or its log could not be
// had; then nothing was written and nothing changed.
int RunDriverSetup();

// The set-up program's entry: the run, holding the run lock until its log is closed.
int DriverSetupMain();

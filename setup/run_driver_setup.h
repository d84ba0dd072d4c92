#pragma once

// Exit codes of the program.
constexpr int kExitDone = 0;
constexpr int kExitNoLog = 1;

// The whole set-up run. kExitNoLog when the program's own location or its log could not be
// had; then nothing was written and nothing changed.
int RunDriverSetup();

// What the process entry does: the run, then the closing records and the log's release, all
// while holding the run lock, so two starts run one after the other.
int DriverSetupMain();

#pragma once

#include <functional>
#include <memory>

namespace spdlog {
class logger;
}

// Exit codes of the bundle's programs.
constexpr int kExitDone = 0;
constexpr int kExitNoLog = 1;

// Opens the install log for appending and writes the two records every run opens with; null,
// having written nothing, when the log cannot be opened.
std::shared_ptr<spdlog::logger> OpenRunLog(const char* logPath);

// What a program's entry does: `run` (kExitNoLog when it could not open its log), then the
// closing records and the log's release, all while holding the run lock, so no two runs of
// the bundle's programs overlap and each one's records follow the last one's whole.
int RunHoldingLock(const std::function<int()>& run);

#pragma once

#include <memory>
#include <string>

namespace spdlog {
class logger;
}

// Creates the append-mode file logger and registers it under `name`. Answers null, having
// written nothing, when the file's folder is missing or is a link, when the file cannot be
// opened, or when it is anything but a plain file of its own (a link, a hard link, a folder).
std::shared_ptr<spdlog::logger> CreateInstallLog(const std::string& name, const std::string& path);

// One info record through the registered install logger; nothing when it is not registered.
void LogInfo(const char* message);

// Writes one info record through a handle the caller holds.
void LogInfo(spdlog::logger& logger, const char* message);

// Drops every logger; the last owner closing the file writes out what is still buffered.
void CloseInstallLog();

extern const char kInstallLoggerName[];

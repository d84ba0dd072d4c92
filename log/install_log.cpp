#include "log/install_log.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "platform/platform_ops.h"

const char kInstallLoggerName[] = "driver_install_info";

namespace {

std::string FolderOf(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

std::shared_ptr<spdlog::logger> CreateInstallLog(const std::string& name, const std::string& path) {
  // spdlog would create a missing folder; the log belongs in the shipped "logs" folder only.
  const std::string folder = FolderOf(path);
  if (folder.empty() || !Platform().DirectoryExists(folder.c_str())) {
    return nullptr;
  }
  try {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_st>(path, false);
    auto logger = std::make_shared<spdlog::logger>(name, std::move(sink));
    // CR LF on every build, not only where it is spdlog's default.
    logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
        "%+", spdlog::pattern_time_type::local, std::string("\r\n")));
    spdlog::register_logger(logger);
    return logger;
  } catch (const spdlog::spdlog_ex&) {
    return nullptr;
  }
}

void LogInfo(const char* message) {
  if (auto logger = spdlog::get(kInstallLoggerName)) {
    LogInfo(*logger, message);
  }
}

void LogInfo(spdlog::logger& logger, const char* message) {
  logger.info(spdlog::string_view_t(message));
}

void CloseInstallLog() { spdlog::drop_all(); }

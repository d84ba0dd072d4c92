#include "log/install_log.h"

#include <spdlog/details/null_mutex.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform_ops.h"

const char kInstallLoggerName[] = "driver_install_info";

namespace {

std::string FolderOf(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// The file the run writes with its rights must be what it looks like: a hard link or a
// reparse point planted at the log's path would send the records into some other file.
bool IsPlainFile(const OpenFileFacts& facts) {
  return (facts.attributes & (kFileAttributeDirectory | kFileAttributeReparsePoint)) == 0 &&
         facts.links == 1;
}

// Appends through the stream of the handle that was checked, so that nothing opens the log by
// its name a second time; writes the same bytes a basic file sink would.
class AppendStreamSink final : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
 public:
  explicit AppendStreamSink(std::FILE* stream) : stream_(stream) {}
  ~AppendStreamSink() override { std::fclose(stream_); }
  AppendStreamSink(const AppendStreamSink&) = delete;
  AppendStreamSink& operator=(const AppendStreamSink&) = delete;

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    spdlog::memory_buf_t formatted;
    formatter_->format(message, formatted);
    if (std::fwrite(formatted.data(), 1, formatted.size(), stream_) != formatted.size()) {
      spdlog::throw_spdlog_ex("Failed writing to the install log", errno);
    }
  }
  void flush_() override { std::fflush(stream_); }

 private:
  std::FILE* stream_;
};

// Null, with nothing opened or written, when the folder or the file is not what it must be.
std::FILE* OpenCheckedLogStream(const std::string& path) {
  // spdlog would create a missing folder; the log belongs in the shipped "logs" folder only.
  const std::string folder = FolderOf(path);
  if (folder.empty() || !Platform().DirectoryExists(folder.c_str())) {
    return nullptr;
  }
  const SystemHandle file = Platform().OpenLogFile(path.c_str());
  if (file == nullptr) {
    return nullptr;
  }
  OpenFileFacts facts;
  if (Platform().GetOpenFileFacts(file, &facts) == 0 || !IsPlainFile(facts)) {
    Platform().CloseHandle(file);
    return nullptr;
  }
  return Platform().AppendStreamOver(file);
}

}  // namespace

std::shared_ptr<spdlog::logger> CreateInstallLog(const std::string& name, const std::string& path) {
  std::FILE* stream = OpenCheckedLogStream(path);
  if (stream == nullptr) {
    return nullptr;
  }
  std::shared_ptr<AppendStreamSink> sink;
  try {
    sink = std::make_shared<AppendStreamSink>(stream);
  } catch (const std::exception&) {
    std::fclose(stream);
    return nullptr;
  }
  try {
    auto logger = std::make_shared<spdlog::logger>(name, std::move(sink));
    // CR LF on every build, not only where it is spdlog's default.
    logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
        "%+", spdlog::pattern_time_type::local, std::string("\r\n")));
    spdlog::register_logger(logger);
    return logger;
  } catch (const std::exception&) {
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

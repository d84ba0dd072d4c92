#include "tests/host/test_support.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <spdlog/spdlog.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

#include "log/install_log.h"

std::string Gbk(const std::string& utf8) {
  iconv_t converter = iconv_open("GBK", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    throw std::runtime_error("no UTF-8 to GBK converter");
  }
  std::string input = utf8;
  std::string output(input.size() * 2 + 4, '\0');
  char* in = input.data();
  char* out = output.data();
  std::size_t inLeft = input.size();
  std::size_t outLeft = output.size();
  const std::size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) {
    throw std::runtime_error("text has no GBK form: " + utf8);
  }
  output.resize(output.size() - outLeft);
  return output;
}

std::vector<std::string> Gbk(const std::vector<std::string>& utf8) {
  std::vector<std::string> converted;
  for (const auto& text : utf8) converted.push_back(Gbk(text));
  return converted;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> LogMessages(const std::string& logBytes) {
  static const std::regex kFrame(
      R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[driver_install_info\] \[info\] )");
  std::vector<std::string> messages;
  std::size_t start = 0;
  while (start < logBytes.size()) {
    const std::size_t end = logBytes.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "record without CR LF at byte " << start;
      break;
    }
    const std::string record = logBytes.substr(start, end - start);
    std::smatch frame;
    if (!std::regex_search(record, frame, kFrame)) {
      ADD_FAILURE() << "record frame wrong: " << record;
      break;
    }
    messages.push_back(record.substr(static_cast<std::size_t>(frame.length(0))));
    start = end + 2;
  }
  return messages;
}

ScratchFolder::ScratchFolder() : previous_(std::filesystem::current_path()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "qz_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
  std::filesystem::current_path(path_);
}

ScratchFolder::~ScratchFolder() {
  std::filesystem::current_path(previous_);
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> ScratchFolder::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

class MemorySink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  MemorySink(std::shared_ptr<std::vector<std::string>> messages, std::function<void()> onRecord)
      : messages_(std::move(messages)), onRecord_(std::move(onRecord)) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    messages_->emplace_back(message.payload.data(), message.payload.size());
    if (onRecord_) onRecord_();
  }
  void flush_() override {}

 private:
  std::shared_ptr<std::vector<std::string>> messages_;
  std::function<void()> onRecord_;
};

}  // namespace

RecordingLog::RecordingLog(std::function<void()> onRecord)
    : messages_(std::make_shared<std::vector<std::string>>()) {
  auto sink = std::make_shared<MemorySink>(messages_, std::move(onRecord));
  spdlog::register_logger(std::make_shared<spdlog::logger>(kInstallLoggerName, sink));
}

RecordingLog::~RecordingLog() { spdlog::drop_all(); }

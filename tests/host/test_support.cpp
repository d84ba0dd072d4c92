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

const std::vector<std::string>& AllProgramTextsUtf8() {
  static const std::vector<std::string> kTexts = {
      "INFO: 开启日志 >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \n",
      "当前驱动版本：V1.2.0 \n",
      "INFO: 获取当前操作系统： \n",
      "..........\n",
      "INFO: 安装 QZ_UsbToUartDriver 驱动 \n",
      "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n",
      "FAIL: QZ_UsbToUartDriver 驱动预安装失败！\n",
      "INFO: 关闭日志\n",
      "\n",
      "FAIL: 无法打开mdmcpq.inf文件\n",
      "FAIL: mdmcpq.inf 读取失败: file buf malloc fail!!!\n",
      "FAIL: mdmcpq.inf 读取失败: file read len error!!!\n",
      "FAIL: mdmcpq.inf 写入失败: file write error!!!\n",
      "SUCC: mdmcpq.inf文件已存在，已编辑\n",
      "Warning: mdmcpq.inf文件已存在，并可用，无需编辑\n",
      "SUCC: mdmcpq.inf文件不存在，自动复制\n",
      "SUCC: usbser.sys文件不存在，自动复制\n",
      "Warning: usbser.sys文件已存在，无需复制\n",
      "FAIL: usbser.sys文件复制失败\n",
      "FAIL:关闭文件重定向失败\n",
      "FAIL:关闭文件重定向失败\n\n",
      "SUCC: Windows\\System32\\drivers\\usbser.sys文件复制成功\n",
      "FAIL: Windows\\System32\\drivers\\usbser.sys文件复制失败\n",
      "SUCC: Windows\\SysWOW64\\drivers\\usbser.sys文件复制成功\n",
      "FAIL: Windows\\SysWOW64\\drivers\\usbser.sys文件复制失败\n",
      "INFO: WindowsXP 32Bits System\n",
      "INFO: WindowsXP 64Bits System \n",
      "INFO: WindowsVISTA 32Bits System\n",
      "INFO: WindowsVISTA 64Bits System \n",
      "INFO: Windows7 32Bits System\n",
      "INFO: Windows7 64Bits System \n",
      "INFO: Windows8 32Bits System\n",
      "INFO: Windows8 64Bits System \n",
      "INFO: Windows8.1 32Bits System\n",
      "INFO: Windows8.1 64Bits System \n",
      "INFO: Windows10 32Bits System\n",
      "INFO: Windows10 64Bits System \n",
      "Warning: before winxp or windows server \n",
      "SUCC: 正在调用驱动预安装函数…… \n",
      "SUCC: 驱动预安装函数运行成功。\n",
      "FAIL: 驱动预安装函数运行失败：",
      "FAIL: 驱动已经存在。 \n",
      "FAIL: 预安装失败 \n",
      "INFO: 已将驱动发布者证书添加到受信任的发布者 \n",
      "Warning: 驱动目录文件签名无法验证，Windows 可能拒绝或提示安装 \n",
      "INFO: 已为已连接的设备安装驱动 \n",
      "Warning: 需要重新启动计算机才能完成设备安装 \n",
      "FAIL: 为已连接的设备安装驱动失败，错误码 <code> \n",
      "INFO: 卸载 QZ_UsbToUartDriver 驱动 \n",
      "SUCC: 已删除驱动包 <name> \n",
      "FAIL: 无法删除驱动包 <name>，错误码 <code> \n",
      "Warning: 未找到已安装的 QZ_UsbToUartDriver 驱动包 \n",
      "FAIL: 缺少驱动安装信息文件，无法识别驱动包 \n",
      "SUCC: QZ_UsbToUartDriver 驱动卸载完成！\n",
      "FAIL: QZ_UsbToUartDriver 驱动卸载失败！\n",
  };
  return kTexts;
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

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
      "INFO: ARM64 处理器 \n",
      "SUCC: 正在调用驱动预安装函数…… \n",
      "SUCC: 驱动预安装函数运行成功。\n",
      "FAIL: 驱动预安装函数运行失败：",
      "FAIL: 驱动已经存在。 \n",
      "FAIL: 预安装失败 \n",
      "FAIL: 驱动包没有适用于 ARM64 Windows 的驱动 \n",
      "INFO: 已将驱动发布者证书添加到受信任的发布者 \n",
      "Warning: 驱动目录文件签名无法验证，Windows 可能拒绝或提示安装 \n",
      "INFO: 已为已连接的设备安装驱动 \n",
      "Warning: 需要重新启动计算机才能完成设备安装 \n",
      "FAIL: 为已连接的设备安装驱动失败，错误码 <code> \n",
      "Warning: 已连接的设备将在重新插入时获得驱动 \n",
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

std::vector<unsigned char> CatalogMember(const std::vector<unsigned char>& digest) {
  using Bytes = std::vector<unsigned char>;
  const auto element = [](unsigned char tag, const Bytes& content) {
    Bytes out = {tag};
    if (content.size() < 0x80) {
      out.push_back(static_cast<unsigned char>(content.size()));
    } else {
      out.push_back(0x81);
      out.push_back(static_cast<unsigned char>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
  };
  const auto join = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
  };
  // SPC_CAB_DATA_OBJID, and the digest's algorithm by its length.
  const Bytes cabData = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x19};
  const Bytes sha1 = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
  const Bytes sha256 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
  const Bytes algorithm = join({element(0x06, digest.size() == 20 ? sha1 : sha256), {0x05, 0x00}});
  return element(0x30,
                 join({element(0x30, element(0x06, cabData)),
                       element(0x30, join({element(0x30, algorithm), element(0x04, digest)}))}));
}

const char kTrustInfBytes[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=qz_uart.cat\r\n";
// hashlib.sha1 / hashlib.sha256 of the bytes above.
const std::vector<unsigned char> kTrustInfSha1 = {0x17, 0xf4, 0x6d, 0x96, 0xa2, 0x28, 0x46,
                                                  0x43, 0x7a, 0x9d, 0x3d, 0x78, 0x38, 0x80,
                                                  0xad, 0x32, 0x1f, 0x6e, 0x79, 0x27};
const std::vector<unsigned char> kTrustInfSha256 = {
    0x0b, 0x65, 0xe7, 0xbc, 0x4f, 0xa9, 0xff, 0xfa, 0x8e, 0xa9, 0x48, 0x23, 0xab, 0x05, 0xe0, 0xa3,
    0x9d, 0xc6, 0x81, 0x2d, 0x8d, 0x53, 0xb4, 0xad, 0x2b, 0xbd, 0x34, 0x08, 0xf2, 0x4e, 0x16, 0xd3};

CatalogFacts VerifiedCatalog() {
  CatalogFacts facts;
  facts.present = true;
  facts.signedMessage = true;
  facts.signatureValid = true;
  facts.signerUsages = {"1.3.6.1.5.5.7.3.3"};
  facts.signerCertificate = {'s', 'i', 'g', 'n', 'e', 'r'};
  facts.memberIndirectData = {CatalogMember(std::vector<unsigned char>(32, 0x11)),
                              CatalogMember(std::vector<unsigned char>(20, 0x22)),
                              CatalogMember(kTrustInfSha256)};
  return facts;
}

std::string HelperStandIn() { return QZ_HELPER_STAND_IN; }

bool AnyCallStartsWith(const std::vector<std::string>& calls, const std::string& prefix) {
  for (const auto& call : calls) {
    if (call.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

std::vector<std::string> AfterDllSearch(const std::vector<std::string>& calls) {
  auto first = calls.begin();
  while (first != calls.end() &&
         (*first == "ConfineDllSearch" || first->rfind("PreloadSystemDll ", 0) == 0)) {
    ++first;
  }
  return std::vector<std::string>(first, calls.end());
}

std::vector<std::string> WithoutVersionQuestions(const std::vector<std::string>& calls) {
  std::vector<std::string> kept;
  for (const auto& call : calls) {
    if (call.rfind("RtlGetVersion", 0) != 0 && call.rfind("GetModuleHandleW", 0) != 0 &&
        call.rfind("GetProcAddress ntdll.dll", 0) != 0) {
      kept.push_back(call);
    }
  }
  return kept;
}

std::string Utf16Bytes(const std::u16string& text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

void WholeRunTest::SetUp() {
  fake_.modulePath = "C:\\QZ\\QZ_DriverSetup.exe";
  fake_.majorVersion = 10;
  fake_.nativeArchitecture = 9;
  UseFakePlatform(fake_);
  std::filesystem::create_directory(scratch_.path() / kLogFolder);
}

void WholeRunTest::TearDown() { spdlog::drop_all(); }

std::vector<std::string> WholeRunTest::LoggedMessages() const {
  return LogMessages(ReadBytes(scratch_.path() / kLogFile));
}

const std::vector<std::string>& FreshSetupRunUtf8() {
  static const std::vector<std::string> records = {
      "INFO: 开启日志 >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \n",
      "当前驱动版本：V1.2.0 \n",
      "INFO: 获取当前操作系统： \n",
      "INFO: Windows10 64Bits System \n",
      "SUCC: mdmcpq.inf文件不存在，自动复制\n",
      "SUCC: usbser.sys文件不存在，自动复制\n",
      "..........\n",
      "INFO: 安装 QZ_UsbToUartDriver 驱动 \n",
      "SUCC: 正在调用驱动预安装函数…… \n",
      "SUCC: 驱动预安装函数运行成功。\n",
      "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n",
      "INFO: 关闭日志\n",
      "\n"};
  return records;
}

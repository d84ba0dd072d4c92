// Property of the mdmcpq.inf patch over arbitrary file contents: afterwards the file is either
// exactly the input, or the input with 0x3B 0x00 inserted at the first match + 56, and the one
// record written says which.
#include <dirent.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "log/install_log.h"
#include "tests/support/fake_platform_ops.h"
#include "setup/modem_inf_patch.h"

namespace {

class MemorySink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<std::string> messages;

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    messages.emplace_back(message.payload.data(), message.payload.size());
  }
  void flush_() override {}
};

// Written out on its own, not taken from the program: UTF-16LE of the header, CR LF and name.
std::string Pattern() {
  const std::string text = "[FakeModemCopyFileSection]\r\nusbser.sys";
  std::string bytes;
  for (char c : text) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

// GBK bytes of the two records that may appear.
const std::string kEdited =
    "SUCC: mdmcpq.inf\xCE\xC4\xBC\xFE\xD2\xD1\xB4\xE6\xD4\xDA\xA3\xAC\xD2\xD1\xB1\xE0\xBC\xAD\n";
const std::string kNoEdit =
    "Warning: mdmcpq.inf\xCE\xC4\xBC\xFE\xD2\xD1\xB4\xE6\xD4\xDA\xA3\xAC\xB2\xA2\xBF\xC9\xD3\xC3"
    "\xA3\xAC\xCE\xDE\xD0\xE8\xB1\xE0\xBC\xAD\n";

struct Harness {
  FakePlatform fake;
  std::shared_ptr<MemorySink> sink = std::make_shared<MemorySink>();
  std::string folder;
  std::string path;

  Harness() {
    UseFakePlatform(fake);
    spdlog::register_logger(std::make_shared<spdlog::logger>(kInstallLoggerName, sink));
    char name[] = "/tmp/qz_fuzz_XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    folder = name;
    path = folder + "/mdmcpq.inf";
  }

  // Nothing but the system's file may be left in its folder.
  bool OnlyTheFileRemains() const {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    int others = 0;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != ".." && name != "mdmcpq.inf") ++others;
    }
    closedir(dir);
    return others == 0;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  const std::string input(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(harness.path, std::ios::binary | std::ios::trunc);
    out.write(input.data(), static_cast<std::streamsize>(input.size()));
  }
  harness.sink->messages.clear();
  harness.fake.calls.clear();

  PatchModemInf(harness.path.c_str());

  std::ifstream in(harness.path, std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t match = input.find(Pattern());
  std::string expected = input;
  std::string record = kNoEdit;
  if (match != std::string::npos) {
    expected.insert(match + 56, std::string("\x3B\x00", 2));
    record = kEdited;
  }
  if (after != expected) std::abort();
  if (harness.sink->messages != std::vector<std::string>{record}) std::abort();
  if (!harness.OnlyTheFileRemains()) std::abort();
  return 0;
}

// Whole runs in which one platform call fails: the first call, then the second, and so on to the
// last call the run makes. Whatever fails, the run ends, its log is one whole run, the lock is
// let go, and the system's files that were there before are still there, whole.
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <map>
#include <set>

#include "setup/run_driver_setup.h"
#include "setup/windows_release.h"
#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

const char kLogFolder[] = "C:\\QZ\\logs";
const char kLogFile[] = "C:\\QZ\\logs\\QZ_Orvo_Driver_Log.txt";
const char kInf[] = "C:\\Windows\\inf\\mdmcpq.inf";
const char kUpperInf[] = "C:\\WINDOWS\\inf\\mdmcpq.inf";
const char kSys32[] = "C:\\Windows\\System32\\drivers\\usbser.sys";
const char kWow64[] = "C:\\Windows\\SysWOW64\\drivers\\usbser.sys";

std::string Utf16(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

const std::string kSystemInf =
    Utf16(u"\xFEFF[Version]\r\n[FakeModemCopyFileSection]\r\nusbser.sys,,,0x20\r\n");
const std::string kEditedInf =
    Utf16(u"\xFEFF[Version]\r\n[FakeModemCopyFileSection]\r\n;usbser.sys,,,0x20\r\n");

struct SweepRow {
  const char* name;
  std::uint32_t major;
  std::uint32_t minor;
  std::uint16_t architecture;
  bool privateNamespaces;
  // System files before the run, and the bytes each may hold after it.
  std::map<std::string, std::set<std::string>> systemFiles;
};

const std::set<std::string> kInfOutcomes = {kSystemInf, kEditedInf};

void LayOutPackage(const fs::path& folder) {
  const char* const subPaths[] = {
      "xp", "win7_32bit", "win7_64bit\\32bits", "win7_64bit\\64bits", "win8_64bit", "win10"};
  for (const char* sub : subPaths) {
    const std::string base = std::string("C:\\QZ\\Drivers\\") + sub + "\\";
    WriteBytes(folder / (base + "mdmcpq.inf"), kSystemInf);
    WriteBytes(folder / (base + "usbser.sys"), std::string("package's usbser.sys from ") + sub);
  }
  WriteBytes(folder / "C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf", "[Version]\r\n");
  WriteBytes(folder / "C:\\QZ\\Drivers\\qz_uart.cat", "catalog");
}

// Everything the programs write, written out here apart from the program's own texts.
std::set<std::string> ProgramTexts() {
  std::set<std::string> texts;
  for (const auto& text : AllProgramTextsUtf8()) texts.insert(Gbk(text));
  return texts;
}

class FaultSweepTest : public ::testing::TestWithParam<SweepRow> {
 protected:
  // One run on a fresh copy of the row's system; answers the exit code.
  int RunOnce(ScratchFolder& scratch, FakePlatform& fake, std::size_t failCall) {
    const SweepRow& row = GetParam();
    fs::create_directory(scratch.path() / kLogFolder);
    LayOutPackage(scratch.path());
    for (const auto& [path, outcomes] : row.systemFiles) {
      WriteBytes(scratch.path() / path, path.find("mdmcpq") != std::string::npos
                                            ? kSystemInf
                                            : std::string("system's own usbser.sys"));
    }
    fake.modulePath = "C:\\QZ\\QZ_DriverSetup.exe";
    fake.majorVersion = row.major;
    fake.minorVersion = row.minor;
    fake.nativeArchitecture = row.architecture;
    fake.hasPrivateNamespaces = row.privateNamespaces;
    fake.copyModelsFiles = true;
    fake.infVersion["CatalogFile"] = "qz_uart.cat";
    fake.catalog.present = fake.catalog.signedMessage = fake.catalog.signatureValid = true;
    fake.catalog.signerUsages = {"1.3.6.1.5.5.7.3.3"};
    fake.catalog.signerCertificate = {'q', 'z'};
    fake.failCall = failCall;
    UseFakePlatform(fake);
    const int code = DriverSetupMain();
    spdlog::drop_all();
    return code;
  }
};

TEST_P(FaultSweepTest, AnySingleFailingCallLeavesAWholeRunAndWholeFiles) {
  const SweepRow& row = GetParam();
  {
    // The version entry point is looked up once per process: done before counting.
    FakePlatform warmUp;
    UseFakePlatform(warmUp);
    IsWindowsVersionAtLeast(0, 0, 0);
  }
  std::size_t callCount = 0;
  {
    ScratchFolder scratch;
    FakePlatform fake;
    ASSERT_EQ(RunOnce(scratch, fake, 0), 0);
    callCount = fake.calls.size();
  }
  ASSERT_GT(callCount, 20u);
  const std::set<std::string> texts = ProgramTexts();
  const Lines banner = Gbk(Lines{"INFO: 开启日志 >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \n",
                                 "当前驱动版本：V1.2.0 \n", "INFO: 获取当前操作系统： \n"});
  const Lines closing = Gbk(Lines{"INFO: 关闭日志\n", "\n"});

  for (std::size_t n = 1; n <= callCount; ++n) {
    ScratchFolder scratch;
    FakePlatform fake;
    const int code = RunOnce(scratch, fake, n);
    ASSERT_GE(fake.calls.size(), n);
    const std::string failed = fake.calls[n - 1];
    SCOPED_TRACE("call " + std::to_string(n) + " fails: " + failed);

    const bool logged = fs::exists(scratch.path() / kLogFile);
    if (code == 1) {
      EXPECT_FALSE(logged) << "exit code 1 after the log was opened";
      EXPECT_TRUE(failed.rfind("GetModuleFileNameA", 0) == 0 ||
                  failed.rfind("DirectoryExists", 0) == 0)
          << "exit code 1 although the log could be opened";
    } else {
      EXPECT_EQ(code, 0);
      ASSERT_TRUE(logged);
      const Lines messages = LogMessages(ReadBytes(scratch.path() / kLogFile));
      ASSERT_GE(messages.size(), banner.size() + closing.size());
      EXPECT_EQ(Lines(messages.begin(), messages.begin() + 3), banner);
      EXPECT_EQ(Lines(messages.end() - 2, messages.end()), closing);
      for (const auto& message : messages) {
        EXPECT_EQ(texts.count(message), 1u) << "not a text of the program: " << message;
      }
    }

    EXPECT_TRUE(!fake.mutexHeld || failed.rfind("ReleaseMutex", 0) == 0)
        << "the run ended holding the lock";
    EXPECT_EQ(fake.openHandles, 0) << "a handle or descriptor was left open";
    for (const auto& [path, outcomes] : row.systemFiles) {
      ASSERT_TRUE(fs::exists(scratch.path() / path)) << path << " is gone";
      EXPECT_EQ(outcomes.count(ReadBytes(scratch.path() / path)), 1u)
          << path << " holds other bytes";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Systems, FaultSweepTest,
    ::testing::Values(
        SweepRow{"Windows10x64Fresh", 10, 0, 9, true, {}},
        SweepRow{"Windows10x64WithFiles",
                 10,
                 0,
                 9,
                 true,
                 {{kInf, kInfOutcomes}, {kSys32, {"system's own usbser.sys"}}}},
        // The only copies that replace an existing driver: either file may hold either bytes.
        SweepRow{
            "Windows7x64WithFiles",
            6,
            1,
            9,
            true,
            {{kInf, kInfOutcomes},
             {kSys32, {"system's own usbser.sys", "package's usbser.sys from win7_64bit\\64bits"}},
             {kWow64,
              {"system's own usbser.sys", "package's usbser.sys from win7_64bit\\64bits"}}}},
        SweepRow{"WindowsXp32WithFiles",
                 5,
                 1,
                 0,
                 false,
                 {{kInf, kInfOutcomes},
                  {kUpperInf, kInfOutcomes},
                  {kSys32, {"system's own usbser.sys"}}}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace

// Whole runs in which one platform call fails: the first call, then the second, and so on to the
// last call the run makes. Whatever fails, the run ends, its log is one whole run, the lock is
// let go, and the system's files that were there before are still there, whole.
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>

#include "common/windows_release.h"
#include "device/device_install_exit.h"
#include "setup/run_driver_setup.h"
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

const std::string kSystemInf =
    Utf16Bytes(u"\xFEFF[Version]\r\n[FakeModemCopyFileSection]\r\nusbser.sys,,,0x20\r\n");
const std::string kEditedInf =
    Utf16Bytes(u"\xFEFF[Version]\r\n[FakeModemCopyFileSection]\r\n;usbser.sys,,,0x20\r\n");

struct SweepRow {
  const char* name;
  std::uint32_t major;
  std::uint32_t minor;
  std::uint16_t architecture;
  bool privateNamespaces;
  // System files before the run, and the bytes each may hold after it.
  std::map<std::string, std::set<std::string>> systemFiles;
  // A device is connected that the package's driver is for.
  bool deviceConnected = false;
  // What IsWow64Process2 names as the machine; 0: Windows without it.
  std::uint16_t wow64NativeMachine = 0;
  // The [Manufacturer] decorations of the package's models.
  InfLine decorations = {"QZ", "QZ", "NTx86", "NTamd64"};
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

std::string HexPattern(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string pattern;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    pattern += std::string("\\x") + kDigits[byte >> 4] + kDigits[byte & 0xF];
  }
  return pattern;
}

// One of the programs' texts, a decimal code or a file name in place of its placeholders.
bool IsProgramText(const std::string& message) {
  static const std::vector<std::regex> kTexts = [] {
    std::vector<std::regex> texts;
    for (const auto& text : AllProgramTextsUtf8()) {
      std::string pattern = HexPattern(Gbk(text));
      for (const auto& [placeholder, by] :
           {std::pair<std::string, std::string>{"<code>", "[0-9]+"}, {"<name>", "[^ ]+"}}) {
        const std::string hex = HexPattern(placeholder);
        for (std::size_t at; (at = pattern.find(hex)) != std::string::npos;) {
          pattern.replace(at, hex.size(), by);
        }
      }
      texts.emplace_back(pattern);
    }
    return texts;
  }();
  return std::any_of(kTexts.begin(), kTexts.end(),
                     [&](const std::regex& text) { return std::regex_match(message, text); });
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
    WriteBytes(scratch.path() / "C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf", kTrustInfBytes);
    fake.catalog = VerifiedCatalog();
    WriteBytes(scratch.path() / "C:\\QZ\\QZ_DeviceInstall64.exe", HelperStandIn());
    fake.hasIsWow64Process2 = row.wow64NativeMachine != 0;
    fake.wow64NativeMachine = row.wow64NativeMachine;
    fake.infSections["Manufacturer"] = {row.decorations};
    if (row.deviceConnected) {
      for (std::size_t i = 2; i < row.decorations.size(); ++i) {
        fake.infSections["QZ." + row.decorations[i]] = {
            {"QZ USB to UART", "QZ_Uart", "USB\\VID_1A86&PID_E0A1"}};
      }
      fake.devices = {{{"USB\\VID_1A86&PID_E0A1"}, ""}};
      fake.processExitCode = EncodeDeviceInstallExit({true, false, false, 0});
    }
    fake.failCall = failCall;
    UseFakePlatform(fake);
    const int code = DriverSetupMain();
    spdlog::drop_all();
    return code;
  }
};

TEST(ProgramTextTest, PlaceholdersStandForCodesAndNamesOnly) {
  EXPECT_TRUE(IsProgramText(Gbk("FAIL: 为已连接的设备安装驱动失败，错误码 3758096949 \n")));
  EXPECT_TRUE(IsProgramText(Gbk("SUCC: 已删除驱动包 oem12.inf \n")));
  EXPECT_TRUE(IsProgramText(Gbk("INFO: 关闭日志\n")));
  EXPECT_FALSE(IsProgramText(Gbk("FAIL: 为已连接的设备安装驱动失败，错误码 x5 \n")));
  EXPECT_FALSE(IsProgramText(Gbk("INFO: 关闭日志")));
  EXPECT_FALSE(IsProgramText("INFO: something else\n"));
}

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
      // The file may have been made before the check of what it is failed, but holds nothing.
      EXPECT_TRUE(!logged || ReadBytes(scratch.path() / kLogFile).empty())
          << "exit code 1 after the log was written";
      EXPECT_TRUE(failed.rfind("GetModuleFileNameA", 0) == 0 ||
                  failed.rfind("DirectoryExists", 0) == 0 || failed.rfind("OpenLogFile", 0) == 0 ||
                  failed.rfind("GetOpenFileFacts", 0) == 0 ||
                  failed.rfind("AppendStreamOver", 0) == 0)
          << "exit code 1 although the log could be opened";
    } else {
      EXPECT_EQ(code, 0);
      ASSERT_TRUE(logged);
      const Lines messages = LogMessages(ReadBytes(scratch.path() / kLogFile));
      ASSERT_GE(messages.size(), banner.size() + closing.size());
      EXPECT_EQ(Lines(messages.begin(), messages.begin() + 3), banner);
      EXPECT_EQ(Lines(messages.end() - 2, messages.end()), closing);
      for (const auto& message : messages) {
        EXPECT_TRUE(IsProgramText(message)) << "not a text of the program: " << message;
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
        SweepRow{"Windows10x64Fresh", 10, 0, 9, true, {}, false},
        SweepRow{"Windows10x64FreshWithDevice", 10, 0, 9, true, {}, true},
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
                  {kSys32, {"system's own usbser.sys"}}},
                 true},
        // Windows 11 on ARM, where GetNativeSystemInfo says x64 when IsWow64Process2 fails.
        SweepRow{"Windows11Arm64WithDevice",
                 10,
                 0,
                 9,
                 true,
                 {{kInf, kInfOutcomes}, {kSys32, {"system's own usbser.sys"}}},
                 true,
                 0xAA64,
                 {"QZ", "QZ", "NTamd64", "NTarm64"}},
        SweepRow{"Windows11Arm64NoArm64Models",
                 10,
                 0,
                 9,
                 true,
                 {},
                 true,
                 0xAA64,
                 {"QZ", "QZ", "NTx86", "NTamd64"}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace

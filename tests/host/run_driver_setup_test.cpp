#include "setup/run_driver_setup.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <algorithm>

#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

// The program's Windows paths are single file names in the scratch folder on this host.
const char kLogFolder[] = "C:\\QZ\\logs";
const char kLogFile[] = "C:\\QZ\\logs\\QZ_Orvo_Driver_Log.txt";
const char kSystemInf[] = "C:\\Windows\\inf\\mdmcpq.inf";

const Lines kBanner = {"INFO: 开启日志 >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \n",
                       "当前驱动版本：V1.2.0 \n", "INFO: 获取当前操作系统： \n"};
const Lines kHeading = {"..........\n", "INFO: 安装 QZ_UsbToUartDriver 驱动 \n",
                        "SUCC: 正在调用驱动预安装函数…… \n"};
const Lines kClosing = {"INFO: 关闭日志\n", "\n"};
const Lines kFreshRun =
    Join({kBanner,
          {"INFO: Windows10 64Bits System \n", "SUCC: mdmcpq.inf文件不存在，自动复制\n",
           "SUCC: usbser.sys文件不存在，自动复制\n"},
          kHeading,
          {"SUCC: 驱动预安装函数运行成功。\n", "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"},
          kClosing});

class RunDriverSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.modulePath = "C:\\QZ\\QZ_DriverSetup.exe";
    fake_.majorVersion = 10;
    fake_.nativeArchitecture = 9;
    UseFakePlatform(fake_);
    fs::create_directory(scratch_.path() / kLogFolder);
  }
  void TearDown() override { spdlog::drop_all(); }

  Lines LoggedMessages() const { return LogMessages(ReadBytes(scratch_.path() / kLogFile)); }

  ScratchFolder scratch_;
  FakePlatform fake_;
};

// A system that already holds both files, its mdmcpq.inf edited earlier, and a store that
// already holds the package.
TEST_F(RunDriverSetupTest, SystemThatHasEverythingWritesTheFourteenRecords) {
  const std::u16string edited = u"[FakeModemCopyFileSection]\r\n;usbser.sys\r\n";
  WriteBytes(scratch_.path() / kSystemInf,
             std::string(reinterpret_cast<const char*>(edited.data()), edited.size() * 2));
  fake_.copyAnswer = 0;
  fake_.setupCopyAnswer = 0;
  fake_.setupCopyError = 80;

  for (int start = 1; start <= 2; ++start) {
    EXPECT_EQ(DriverSetupMain(), 0);
    const Lines oneRun = Join(
        {kBanner,
         {"INFO: Windows10 64Bits System \n", "Warning: mdmcpq.inf文件已存在，并可用，无需编辑\n",
          "Warning: usbser.sys文件已存在，无需复制\n"},
         kHeading,
         {"FAIL: 驱动预安装函数运行失败：", "FAIL: 驱动已经存在。 \n",
          "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"},
         kClosing});
    ASSERT_EQ(oneRun.size(), 14u);
    Lines expected;
    for (int i = 0; i < start; ++i) expected = Join({expected, oneRun});
    EXPECT_EQ(LoggedMessages(), Gbk(expected)) << "after start " << start;
  }
  EXPECT_FALSE(spdlog::get("driver_install_info")) << "the entry drops the logger";
}

TEST_F(RunDriverSetupTest, FreshSystemGetsBothFilesAndThePackage) {
  EXPECT_EQ(DriverSetupMain(), 0);
  EXPECT_EQ(LoggedMessages(), Gbk(kFreshRun));
  const std::string staging =
      "SetupCopyOEMInfA C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf media=null type=1 style=4 "
      "size=260 required=null component=requested";
  EXPECT_NE(std::find(fake_.calls.begin(), fake_.calls.end(), staging), fake_.calls.end());
}

// The publisher's trust is settled, and reported, right before the staging call.
TEST_F(RunDriverSetupTest, PublisherTrustedJustBeforeStaging) {
  fake_.infVersion["CatalogFile"] = "qz_uart.cat";
  fake_.catalog.present = fake_.catalog.signedMessage = fake_.catalog.signatureValid = true;
  fake_.catalog.signerUsages = {"1.3.6.1.5.5.7.3.3"};
  fake_.catalog.signerCertificate = {'q', 'z'};
  EXPECT_EQ(DriverSetupMain(), 0);
  Lines expected = kFreshRun;
  const auto staging = std::find(expected.begin(), expected.end(), kHeading.back());
  expected.insert(staging, "INFO: 已将驱动发布者证书添加到受信任的发布者 \n");
  EXPECT_EQ(LoggedMessages(), Gbk(expected));
  EXPECT_EQ(std::count(fake_.calls.begin(), fake_.calls.end(), "AddTrustedPublisher qz"), 1);
  EXPECT_EQ(std::count(fake_.calls.begin(), fake_.calls.end(), "SetupSetNonInteractiveMode 1"), 0)
      << "a visible desktop keeps its prompts";
}

TEST_F(RunDriverSetupTest, NoDriverFilesStillReportsEverythingAndClosesTheLog) {
  fake_.majorVersion = 6;
  fake_.minorVersion = 1;
  fake_.copyAnswer = 0;
  fake_.setupCopyAnswer = 0;
  fake_.setupCopyError = 2;
  EXPECT_EQ(DriverSetupMain(), 0);
  EXPECT_EQ(LoggedMessages(),
            Gbk(Join({kBanner,
                      {"INFO: Windows7 64Bits System \n", "FAIL: 无法打开mdmcpq.inf文件\n",
                       "FAIL: Windows\\System32\\drivers\\usbser.sys文件复制失败\n",
                       "FAIL: Windows\\SysWOW64\\drivers\\usbser.sys文件复制失败\n"},
                      kHeading,
                      {"FAIL: 驱动预安装函数运行失败：", "FAIL: 预安装失败 \n",
                       "FAIL: QZ_UsbToUartDriver 驱动预安装失败！\n"},
                      kClosing})));
}

TEST_F(RunDriverSetupTest, MissingLogsFolderDoesNothingAndExitsWithOne) {
  fs::remove(scratch_.path() / kLogFolder);
  EXPECT_EQ(DriverSetupMain(), 1);
  EXPECT_EQ(fake_.calls,
            (Lines{"CreateMutexA Global\\QZ_DriverSetup_Run", "WaitForSingleObject mutex",
                   "GetModuleFileNameA null capacity=260", "DirectoryExists C:\\QZ\\logs",
                   "ReleaseMutex mutex", "CloseHandle mutex"}));
  EXPECT_EQ(scratch_.Files(), Lines{});
  EXPECT_FALSE(spdlog::get("driver_install_info"));
}

TEST_F(RunDriverSetupTest, UnusableProgramPathDoesNothingAndExitsWithOne) {
  fake_.modulePath = "QZ_DriverSetup.exe";
  EXPECT_EQ(DriverSetupMain(), 1);
  EXPECT_EQ(fake_.calls, (Lines{"CreateMutexA Global\\QZ_DriverSetup_Run",
                                "WaitForSingleObject mutex", "GetModuleFileNameA null capacity=260",
                                "ReleaseMutex mutex", "CloseHandle mutex"}));
}

// Two starts take turns: the lock is waited for before anything else, and let go only once the
// log file is closed, so a waiting run's records follow this run's closing records.
struct LockCase {
  const char* name;
  bool createFails;
  std::uint32_t waitAnswer;
  bool owned;
  Lines lockCallsBefore;
  Lines lockCallsAfter;
};

class RunLockTest : public RunDriverSetupTest, public ::testing::WithParamInterface<LockCase> {};

TEST_P(RunLockTest, LockSpansTheWholeRunAndLog) {
  const LockCase& c = GetParam();
  fake_.mutexCreateFails = c.createFails;
  fake_.waitAnswer = c.waitAnswer;
  bool logExistedAtWait = true;
  fake_.onWait = [&] { logExistedAtWait = fs::exists(scratch_.path() / kLogFile); };
  std::string logAtRelease;
  fake_.onReleaseMutex = [&] { logAtRelease = ReadBytes(scratch_.path() / kLogFile); };

  EXPECT_EQ(DriverSetupMain(), 0);

  const Lines& calls = fake_.calls;
  ASSERT_GE(calls.size(), c.lockCallsBefore.size() + c.lockCallsAfter.size() + 1);
  EXPECT_EQ(Lines(calls.begin(), calls.begin() + static_cast<long>(c.lockCallsBefore.size())),
            c.lockCallsBefore);
  EXPECT_EQ(calls[c.lockCallsBefore.size()], "GetModuleFileNameA null capacity=260");
  EXPECT_EQ(Lines(calls.end() - static_cast<long>(c.lockCallsAfter.size()), calls.end()),
            c.lockCallsAfter);
  Lines lockCalls;
  for (const auto& call : calls) {
    if (call.find("Mutex") != std::string::npos || call.find(" mutex") != std::string::npos) {
      lockCalls.push_back(call);
    }
  }
  EXPECT_EQ(lockCalls, Join({c.lockCallsBefore, c.lockCallsAfter}));
  const Lines messages = LoggedMessages();
  EXPECT_EQ(messages, Gbk(kFreshRun));
  if (c.owned) {
    EXPECT_FALSE(logExistedAtWait) << "waited after the log was opened";
    EXPECT_EQ(LogMessages(logAtRelease), messages) << "released before the log was closed";
  }
}

const Lines kCreateAndWait = {"CreateMutexA Global\\QZ_DriverSetup_Run",
                              "WaitForSingleObject mutex"};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RunLockTest,
    ::testing::Values(
        LockCase{"Taken",
                 false,
                 kWaitObject0,
                 true,
                 kCreateAndWait,
                 {"ReleaseMutex mutex", "CloseHandle mutex"}},
        // The run that held it died: the lock is this run's now.
        LockCase{"Abandoned",
                 false,
                 kWaitAbandoned,
                 true,
                 kCreateAndWait,
                 {"ReleaseMutex mutex", "CloseHandle mutex"}},
        LockCase{"WaitFails", false, kWaitFailed, false, kCreateAndWait, {"CloseHandle mutex"}},
        LockCase{"CannotBeCreated",
                 true,
                 kWaitObject0,
                 false,
                 {"CreateMutexA Global\\QZ_DriverSetup_Run"},
                 {}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace

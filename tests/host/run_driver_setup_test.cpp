#include "setup/run_driver_setup.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

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
  EXPECT_EQ(
      LoggedMessages(),
      Gbk(Join({kBanner,
                {"INFO: Windows10 64Bits System \n", "SUCC: mdmcpq.inf文件不存在，自动复制\n",
                 "SUCC: usbser.sys文件不存在，自动复制\n"},
                kHeading,
                {"SUCC: 驱动预安装函数运行成功。\n", "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"},
                kClosing})));
  EXPECT_EQ(fake_.calls.back(),
            "SetupCopyOEMInfA C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf media=null type=1 style=4 "
            "size=260 required=null component=requested");
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
            (Lines{"GetModuleFileNameA null capacity=260", "DirectoryExists C:\\QZ\\logs"}));
  EXPECT_EQ(scratch_.Files(), Lines{});
  EXPECT_FALSE(spdlog::get("driver_install_info"));
}

TEST_F(RunDriverSetupTest, UnusableProgramPathDoesNothingAndExitsWithOne) {
  fake_.modulePath = "QZ_DriverSetup.exe";
  EXPECT_EQ(DriverSetupMain(), 1);
  EXPECT_EQ(fake_.calls, Lines{"GetModuleFileNameA null capacity=260"});
}

}  // namespace

#include "setup/run_driver_setup.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <functional>

#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

const char kSystemInf[] = "C:\\Windows\\inf\\mdmcpq.inf";
const char kSystemDriver[] = "C:\\Windows\\System32\\drivers\\usbser.sys";

const Lines kBanner = {"INFO: 开启日志 >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \n",
                       "当前驱动版本：V1.2.0 \n", "INFO: 获取当前操作系统： \n"};
const Lines kHeading = {"..........\n", "INFO: 安装 QZ_UsbToUartDriver 驱动 \n",
                        "SUCC: 正在调用驱动预安装函数…… \n"};
const Lines kClosing = {"INFO: 关闭日志\n", "\n"};

using RunDriverSetupTest = WholeRunTest;

// A system that already holds both files, its mdmcpq.inf edited earlier, and a store that
// already holds the package.
TEST_F(RunDriverSetupTest, SystemThatHasEverythingWritesTheFourteenRecords) {
  WriteBytes(scratch_.path() / kSystemInf,
             Utf16Bytes(u"[FakeModemCopyFileSection]\r\n;usbser.sys\r\n"));
  WriteBytes(scratch_.path() / kSystemDriver, "system's own");
  fake_.copyError = kErrorFileExists;
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
  EXPECT_EQ(LoggedMessages(), Gbk(FreshSetupRunUtf8()));
  const std::string staging =
      "SetupCopyOEMInfA C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf media=null type=1 style=4 "
      "size=260 required=null component=requested";
  EXPECT_NE(std::find(fake_.calls.begin(), fake_.calls.end(), staging), fake_.calls.end());
}

// The publisher's trust is settled, and reported, right before the staging call.
TEST_F(RunDriverSetupTest, PublisherTrustedJustBeforeStaging) {
  fake_.infVersion["CatalogFile"] = "qz_uart.cat";
  WriteBytes(scratch_.path() / "C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf", kTrustInfBytes);
  fake_.catalog = VerifiedCatalog();
  fake_.catalog.signerCertificate = {'q', 'z'};
  EXPECT_EQ(DriverSetupMain(), 0);
  Lines expected = FreshSetupRunUtf8();
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
  fake_.copyError = kErrorFileExists;
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
  fake_.hasPrivateNamespaces = false;
  EXPECT_EQ(DriverSetupMain(), 1);
  EXPECT_EQ(AfterDllSearch(fake_.calls),
            (Lines{"PrivateNamespacesAvailable",
                   "CreateMutexA Global\\QZ_DriverSetup_Run security=default",
                   "WaitForSingleObject mutex", "GetModuleFileNameA null capacity=260",
                   "DirectoryExists C:\\QZ\\logs", "ReleaseMutex mutex", "CloseHandle mutex"}));
  EXPECT_EQ(scratch_.Files(), Lines{});
  EXPECT_FALSE(spdlog::get("driver_install_info"));
}

TEST_F(RunDriverSetupTest, UnusableProgramPathDoesNothingAndExitsWithOne) {
  fake_.modulePath = "QZ_DriverSetup.exe";
  fake_.hasPrivateNamespaces = false;
  EXPECT_EQ(DriverSetupMain(), 1);
  EXPECT_EQ(AfterDllSearch(fake_.calls),
            (Lines{"PrivateNamespacesAvailable",
                   "CreateMutexA Global\\QZ_DriverSetup_Run security=default",
                   "WaitForSingleObject mutex", "GetModuleFileNameA null capacity=260",
                   "ReleaseMutex mutex", "CloseHandle mutex"}));
}

}  // namespace

// Whole set-up runs as IsWow64Process2 answers them: where it is missing, fails or names x86 or
// x64 the log is today's, and on ARM64 the log says what the package can and cannot do there.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "device/device_install_exit.h"
#include "setup/run_driver_setup.h"
#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kOurId = "USB\\VID_1A86&PID_E0A1";
const char kHelper[] = "C:\\QZ\\QZ_DeviceInstall64.exe";

const Lines kOpening = {"INFO: 开启日志 >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \n",
                        "当前驱动版本：V1.2.0 \n", "INFO: 获取当前操作系统： \n"};
const Lines kBothCopied = {"SUCC: mdmcpq.inf文件不存在，自动复制\n",
                           "SUCC: usbser.sys文件不存在，自动复制\n"};
const Lines kHeading = {"..........\n", "INFO: 安装 QZ_UsbToUartDriver 驱动 \n"};
const Lines kStaged = {"SUCC: 正在调用驱动预安装函数…… \n", "SUCC: 驱动预安装函数运行成功。\n"};
const std::string kDevicesInstalled = "INFO: 已为已连接的设备安装驱动 \n";
const std::string kSucceeded = "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n";
const std::string kFailed = "FAIL: QZ_UsbToUartDriver 驱动预安装失败！\n";
const Lines kClosing = {"INFO: 关闭日志\n", "\n"};
const std::string kWindows10x64 = "INFO: Windows10 64Bits System \n";
const std::string kArm64 = "INFO: ARM64 处理器 \n";
const std::string kNoArm64Driver = "FAIL: 驱动包没有适用于 ARM64 Windows 的驱动 \n";
const std::string kOnNextPlug = "Warning: 已连接的设备将在重新插入时获得驱动 \n";

// A fresh Windows 10 with one of the package's devices plugged in and no driver for it.
class Arm64RunTest : public WholeRunTest {
 protected:
  void SetUp() override {
    WholeRunTest::SetUp();
    fake_.infSections["Manufacturer"] = {{"QZ", "QZ", "NTx86", "NTamd64", "NTarm64"}};
    for (const char* section : {"QZ.NTx86", "QZ.NTamd64", "QZ.NTarm64"}) {
      fake_.infSections[section] = {{"QZ USB to UART", "QZ_Uart", kOurId}};
    }
    fake_.devices = {{{kOurId}, ""}};
    fake_.processExitCode = EncodeDeviceInstallExit({true, false, false, 0});
    WriteBytes(scratch_.path() / kHelper, HelperStandIn());
  }

  // Windows 11 on ARM: GetNativeSystemInfo tells an emulated x86 process it runs on x64.
  void OnArm64() {
    fake_.hasIsWow64Process2 = true;
    fake_.wow64NativeMachine = 0xAA64;
    fake_.nativeArchitecture = 9;
  }

  std::size_t Count(const std::string& prefix) const {
    return static_cast<std::size_t>(
        std::count_if(fake_.calls.begin(), fake_.calls.end(),
                      [&](const std::string& call) { return call.rfind(prefix, 0) == 0; }));
  }
};

struct Wow64Case {
  const char* name;
  bool has;
  std::uint32_t error;
  std::uint16_t nativeMachine;
  std::uint16_t systemInfoArchitecture;
  bool is64Bit;
};

class Wow64AnswerTest : public Arm64RunTest, public ::testing::WithParamInterface<Wow64Case> {};

TEST_P(Wow64AnswerTest, LeavesTodaysLogAndDeviceStep) {
  const Wow64Case& c = GetParam();
  fake_.hasIsWow64Process2 = c.has;
  fake_.isWow64Process2Error = c.error;
  fake_.wow64NativeMachine = c.nativeMachine;
  fake_.wow64ProcessMachine = c.is64Bit ? 0x014C : 0;
  fake_.nativeArchitecture = c.systemInfoArchitecture;

  EXPECT_EQ(DriverSetupMain(), 0);

  const std::string release =
      c.is64Bit ? kWindows10x64 : std::string("INFO: Windows10 32Bits System\n");
  EXPECT_EQ(LoggedMessages(), Gbk(Join({kOpening,
                                        {release},
                                        kBothCopied,
                                        kHeading,
                                        kStaged,
                                        {kDevicesInstalled, kSucceeded},
                                        kClosing})));
  EXPECT_EQ(Count("RunProcess "), c.is64Bit ? 1u : 0u);
  EXPECT_EQ(Count("UpdateDriverForPlugAndPlayDevicesA "), c.is64Bit ? 0u : 1u);
  EXPECT_EQ(Count("IsWow64Process2 current"), c.has ? 1u : 0u) << "asked once a run";
}

INSTANTIATE_TEST_SUITE_P(Answers, Wow64AnswerTest,
                         ::testing::Values(Wow64Case{"Missing64", false, 0, 0, 9, true},
                                           Wow64Case{"Missing32", false, 0, 0, 0, false},
                                           Wow64Case{"Fails", true, 87, 0xAA64, 9, true},
                                           Wow64Case{"X64", true, 0, 0x8664, 9, true},
                                           Wow64Case{"X86", true, 0, 0x014C, 0, false}),
                         [](const auto& row) { return std::string(row.param.name); });

// Staging on ARM64 as anywhere; the plugged-in device is left to Windows.
struct StagingCase {
  const char* name;
  std::uint32_t error;  // of the staging; 0: staged
  Lines records;        // between the heading and the summary
  bool staged;
};

class Arm64StagingTest : public Arm64RunTest, public ::testing::WithParamInterface<StagingCase> {};

TEST_P(Arm64StagingTest, NamesTheProcessorAndLeavesDevicesToTheirNextArrival) {
  const StagingCase& c = GetParam();
  OnArm64();
  fake_.setupCopyError = c.error;

  EXPECT_EQ(DriverSetupMain(), 0);

  EXPECT_EQ(LoggedMessages(), Gbk(Join({kOpening,
                                        {kWindows10x64, kArm64},
                                        kBothCopied,
                                        kHeading,
                                        c.records,
                                        {c.staged ? kSucceeded : kFailed},
                                        kClosing})));
  EXPECT_EQ(Count("SetupCopyOEMInfA "), 1u);
  for (const char* never : {"RunProcess ", "OpenFileSharingReadOnly ", "ListPresentDevices",
                            "UpdateDriverForPlugAndPlayDevicesA ", "GetNativeSystemInfo"}) {
    EXPECT_EQ(Count(never), 0u) << never;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Staging, Arm64StagingTest,
    ::testing::Values(StagingCase{"Staged", 0, Join({kStaged, {kOnNextPlug}}), true},
                      StagingCase{
                          "AlreadyStaged",
                          80,
                          {"SUCC: 正在调用驱动预安装函数…… \n", "FAIL: 驱动预安装函数运行失败：",
                           "FAIL: 驱动已经存在。 \n", kOnNextPlug},
                          true},
                      StagingCase{"Refused",
                                  2,
                                  {"SUCC: 正在调用驱动预安装函数…… \n",
                                   "FAIL: 驱动预安装函数运行失败：", "FAIL: 预安装失败 \n"},
                                  false}),
    [](const auto& row) { return std::string(row.param.name); });

// Without models decorated NTarm64 ARM64 Windows has nothing it can load: nothing is staged or
// trusted, and the log says why.
struct NoModelsCase {
  const char* name;
  std::optional<InfLine> manufacturer;  // none: the INF has no [Manufacturer] it can read
};

class Arm64NoModelsTest : public Arm64RunTest,
                          public ::testing::WithParamInterface<NoModelsCase> {};

TEST_P(Arm64NoModelsTest, StagesNothingAndSaysThePackageHasNoArm64Driver) {
  OnArm64();
  fake_.infSections.erase("Manufacturer");
  if (GetParam().manufacturer) fake_.infSections["Manufacturer"] = {*GetParam().manufacturer};
  fake_.infVersion["CatalogFile"] = "qz_uart.cat";
  fake_.catalog = VerifiedCatalog();

  EXPECT_EQ(DriverSetupMain(), 0);

  EXPECT_EQ(LoggedMessages(), Gbk(Join({kOpening,
                                        {kWindows10x64, kArm64},
                                        kBothCopied,
                                        kHeading,
                                        {kNoArm64Driver, kFailed},
                                        kClosing})));
  for (const char* never : {"SetupCopyOEMInfA ", "SetupSetNonInteractiveMode ", "InspectCatalog ",
                            "AddTrustedPublisher ", "RunProcess ", "ListPresentDevices"}) {
    EXPECT_EQ(Count(never), 0u) << never;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Packages, Arm64NoModelsTest,
    ::testing::Values(NoModelsCase{"X86AndX64Only", InfLine{"QZ", "QZ", "NTx86", "NTamd64"}},
                      NoModelsCase{"AnyNtOnly", InfLine{"QZ", "QZ", "NT"}},
                      // Build 22000 on: not the fixture's 19045.
                      NoModelsCase{"Arm64ForALaterBuildOnly",
                                   InfLine{"QZ", "QZ", "NTamd64", "NTarm64.10.0...22000"}},
                      NoModelsCase{"Undecorated", InfLine{"QZ", "QZ"}},
                      NoModelsCase{"NoManufacturer", std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

// A decoration whose version and build this Windows meets names ARM64 models, in any case.
TEST_F(Arm64RunTest, VersionedDecorationCountsAsArm64Models) {
  OnArm64();
  fake_.infSections["Manufacturer"] = {{"QZ", "QZ", "NTamd64", "ntARM64.10.0...16299"}};
  EXPECT_EQ(DriverSetupMain(), 0);
  EXPECT_EQ(Count("SetupCopyOEMInfA "), 1u);
}

}  // namespace

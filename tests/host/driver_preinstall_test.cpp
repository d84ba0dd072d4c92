#include "setup/driver_preinstall.h"

#include <gtest/gtest.h>

#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;

const char kSource[] = "C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf";
const std::string kCall = std::string("SetupCopyOEMInfA ") + kSource +
                          " media=null type=1 style=4 size=260 required=null component=requested";

struct PreinstallCase {
  const char* name;
  std::uint32_t error;  // of the staging; 0: staged
  bool setsComponent;
  int result;
  std::string stagedName;
  Lines calls;
  Lines records;
};

class PreinstallDriverPackageTest : public ::testing::TestWithParam<PreinstallCase> {};

TEST_P(PreinstallDriverPackageTest, ReportsTheOutcomeAndNamesTheStagedFile) {
  const PreinstallCase& c = GetParam();
  FakePlatform fake;
  fake.setupCopyError = c.error;
  fake.setupCopySetsComponent = c.setsComponent;
  fake.stagedInfName = "oem12.inf";
  UseFakePlatform(fake);
  // Writing a record may clear the thread's last error, as the first record does under MinGW.
  RecordingLog log([&fake] { fake.lastError = 0; });

  char staged[kPathCapacity] = {};
  EXPECT_EQ(PreinstallDriverPackage(kSource, staged), c.result);

  EXPECT_EQ(fake.calls, c.calls);
  EXPECT_EQ(log.messages(), Gbk(c.records));
  EXPECT_EQ(std::string(staged), c.stagedName);
  for (std::size_t i = c.stagedName.size(); i < kPathCapacity; ++i) ASSERT_EQ(staged[i], '\0');
}

const std::string kCalling = "SUCC: 正在调用驱动预安装函数…… \n";
const std::string kCallFailed = "FAIL: 驱动预安装函数运行失败：";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PreinstallDriverPackageTest,
    ::testing::Values(PreinstallCase{"Staged",
                                     0,
                                     true,
                                     1,
                                     "oem12.inf",
                                     {kCall},
                                     {kCalling, "SUCC: 驱动预安装函数运行成功。\n"}},
                      PreinstallCase{"AlreadyInTheStore",
                                     80,
                                     true,
                                     1,
                                     "oem12.inf",
                                     {kCall, "GetLastError"},
                                     {kCalling, kCallFailed, "FAIL: 驱动已经存在。 \n"}},
                      PreinstallCase{"OtherError",
                                     2,
                                     true,
                                     0,
                                     "",
                                     {kCall, "GetLastError"},
                                     {kCalling, kCallFailed, "FAIL: 预安装失败 \n"}},
                      PreinstallCase{"StagedWithoutComponent",
                                     0,
                                     false,
                                     1,
                                     "",
                                     {kCall},
                                     {kCalling, "SUCC: 驱动预安装函数运行成功。\n"}},
                      PreinstallCase{"AlreadyInTheStoreWithoutComponent",
                                     80,
                                     false,
                                     1,
                                     "",
                                     {kCall, "GetLastError"},
                                     {kCalling, kCallFailed, "FAIL: 驱动已经存在。 \n"}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(PreinstallDriverPackageTest, EmptySourceFailsWithoutAskingThePlatform) {
  FakePlatform fake;
  UseFakePlatform(fake);
  RecordingLog log;
  char staged[kPathCapacity] = {};
  EXPECT_EQ(PreinstallDriverPackage("", staged), 0);
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(log.messages(), Gbk(Lines{kCalling, kCallFailed, "FAIL: 预安装失败 \n"}));
}

}  // namespace

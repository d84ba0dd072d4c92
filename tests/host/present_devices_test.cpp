#include "setup/present_devices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "device/device_install_exit.h"
#include "setup/run_driver_setup.h"
#include "tests/host/test_support.h"

namespace {

const OsVersion kWindows10{10, 0, 19045, 1, 0x100};

using Lines = std::vector<std::string>;

const char kPackageInf[] = "C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf";
const char kHelper[] = "C:\\QZ\\QZ_DeviceInstall64.exe";
const std::string kOurId = "USB\\VID_1A86&PID_E0A1";
const std::string kOurOtherId = "USB\\VID_1A86&PID_E0A2";
const std::string kInstalled = "INFO: 已为已连接的设备安装驱动 \n";
const std::string kRestart = "Warning: 需要重新启动计算机才能完成设备安装 \n";
std::string InstallFailed(std::uint32_t code) {
  return "FAIL: 为已连接的设备安装驱动失败，错误码 " + std::to_string(code) + " \n";
}

class PresentDevicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.modulePath = "C:\\QZ\\QZ_DriverSetup.exe";
    fake_.infSections["Manufacturer"] = {{"%QZ%", "QZ", "NTx86", "NTamd64"}};
    fake_.infSections["QZ.NTx86"] = {{"QZ USB to UART", "QZ_Uart", kOurId, kOurOtherId}};
    fake_.infSections["QZ.NTamd64"] = {{"QZ USB to UART", "QZ_Uart", kOurId}};
    UseFakePlatform(fake_);
  }

  Lines DeviceCalls() const {
    Lines calls;
    for (const auto& call : fake_.calls) {
      if (call.rfind("UpdateDriverForPlugAndPlayDevicesA", 0) == 0 ||
          call.rfind("RunProcess", 0) == 0) {
        calls.push_back(call);
      }
    }
    return calls;
  }

  FakePlatform fake_;
};

std::string Update(const std::string& id) {
  return "UpdateDriverForPlugAndPlayDevicesA " + id + " " + kPackageInf + " flags=0x4";
}

struct DeviceCase {
  const char* name;
  std::vector<PresentDeviceFacts> devices;
  std::map<std::string, FakePlatform::DriverUpdate> updates;
  Lines calls;
  Lines records;
};

class DeviceTableTest : public PresentDevicesTest,
                        public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(DeviceTableTest, InstallsOnlyWhereADeviceNeedsItAndSaysSo) {
  const DeviceCase& c = GetParam();
  fake_.devices = c.devices;
  fake_.driverUpdates = c.updates;
  RecordingLog log;

  InstallOnPresentDevices(kPackageInf, "oem7.inf", kHelper, NativeArchitecture::kX86, kWindows10);

  EXPECT_EQ(DeviceCalls(), c.calls);
  EXPECT_EQ(log.messages(), Gbk(c.records));
}

const PresentDeviceFacts kNoDriver = {{kOurId, "USB\\VID_1A86"}, ""};
const PresentDeviceFacts kOnOurs = {{kOurId}, "OEM7.INF"};
const PresentDeviceFacts kOnAnother = {{"USB\\VID_1A86&PID_E0A2&REV_0100", kOurOtherId},
                                       "oem3.inf"};
const PresentDeviceFacts kOtherDevice = {{"USB\\VID_0403&PID_6001"}, ""};

INSTANTIATE_TEST_SUITE_P(
    Devices, DeviceTableTest,
    ::testing::Values(
        DeviceCase{"NoDevice", {}, {}, {}, {}},
        DeviceCase{"OtherDeviceOnly", {kOtherDevice}, {}, {}, {}},
        DeviceCase{
            "DeviceWithoutDriver", {kNoDriver, kOtherDevice}, {}, {Update(kOurId)}, {kInstalled}},
        // Its driver key names the staged INF: it already runs this package.
        DeviceCase{"DeviceOnOurStagedInf", {kOnOurs}, {}, {}, {}},
        // Windows keeps a better-ranked driver: nothing was done, and nothing is said.
        DeviceCase{"DeviceOnABetterDriver",
                   {kOnAnother},
                   {{kOurOtherId, {0, 259, false}}},
                   {Update(kOurOtherId)},
                   {}},
        // Unplugged between the listing and the install: nothing to install onto.
        DeviceCase{"DeviceUnpluggedMeanwhile",
                   {kNoDriver},
                   {{kOurId, {0, 0xE000020B, false}}},
                   {Update(kOurId)},
                   {}},
        DeviceCase{"TwoDevicesOneId", {kNoDriver, kNoDriver}, {}, {Update(kOurId)}, {kInstalled}},
        DeviceCase{"RestartNeeded",
                   {kNoDriver},
                   {{kOurId, {1, 0, true}}},
                   {Update(kOurId)},
                   {kInstalled, kRestart}},
        // A later ID that needs no restart does not take back an earlier one's.
        DeviceCase{"RestartForTheFirstOfTwoIds",
                   {kNoDriver, kOnAnother},
                   {{kOurId, {1, 0, true}}, {kOurOtherId, {1, 0, false}}},
                   {Update(kOurId), Update(kOurOtherId)},
                   {kInstalled, kRestart}},
        DeviceCase{"InstallFails",
                   {kNoDriver},
                   {{kOurId, {0, 0xE0000247, false}}},
                   {Update(kOurId)},
                   {InstallFailed(0xE0000247)}},
        // The first failure is the one reported; what did get installed is said too.
        DeviceCase{"OneOfTwoFails",
                   {kNoDriver, kOnAnother},
                   {{kOurOtherId, {0, 5, false}}},
                   {Update(kOurId), Update(kOurOtherId)},
                   {kInstalled, InstallFailed(5)}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(PresentDevicesTest, NothingIsListedWithoutTheModelsOfThisArchitecture) {
  fake_.infSections.erase("QZ.NTx86");
  fake_.devices = {kNoDriver};
  RecordingLog log;
  InstallOnPresentDevices(kPackageInf, "oem7.inf", kHelper, NativeArchitecture::kX86, kWindows10);
  EXPECT_EQ(std::count(fake_.calls.begin(), fake_.calls.end(), "ListPresentDevices"), 0);
  EXPECT_EQ(log.messages(), Lines{});
}

// On 64-bit Windows the 64-bit helper does the install; the set-up program starts it only when
// it is the helper this build shipped, and reads its exit code.
struct HelperCase {
  const char* name;
  std::optional<std::string> helperBytes;  // none: no helper beside the program
  std::optional<std::uint32_t> startError;
  std::uint32_t exitCode;
  bool started;
  Lines records;
};

class DeviceHelperTest : public PresentDevicesTest,
                         public ::testing::WithParamInterface<HelperCase> {};

TEST_P(DeviceHelperTest, StartsOnlyTheShippedHelperAndTurnsItsExitCodeIntoRecords) {
  const HelperCase& c = GetParam();
  ScratchFolder scratch;
  if (c.helperBytes) WriteBytes(scratch.path() / kHelper, *c.helperBytes);
  fake_.devices = {kNoDriver};
  fake_.processStartError = c.startError.value_or(0);
  fake_.processExitCode = c.exitCode;
  RecordingLog log;

  InstallOnPresentDevices(kPackageInf, "oem7.inf", kHelper, NativeArchitecture::kAmd64, kWindows10);

  const std::string start = std::string("RunProcess ") + kHelper + " | \"" + kHelper + "\" \"" +
                            kPackageInf + "\" \"oem7.inf\" | in C:\\Windows\\System32";
  EXPECT_EQ(DeviceCalls(), c.started ? Lines{start} : Lines{});
  // The helper's file stays open, so it cannot be swapped, from before it is read until the
  // helper has exited.
  const auto opened = std::find(fake_.calls.begin(), fake_.calls.end(),
                                std::string("OpenFileSharingReadOnly ") + kHelper);
  ASSERT_NE(opened, fake_.calls.end());
  if (c.helperBytes) {
    const auto closed = std::find(opened, fake_.calls.end(), "CloseHandle file");
    ASSERT_NE(closed, fake_.calls.end());
    if (c.started) {
      EXPECT_LT(std::find(opened, closed, start), closed);
    }
  }
  EXPECT_EQ(fake_.openHandles, 0);
  EXPECT_EQ(log.messages(), Gbk(c.records));
}

INSTANTIATE_TEST_SUITE_P(
    ExitCodes, DeviceHelperTest,
    ::testing::Values(
        HelperCase{"Installed",
                   HelperStandIn(),
                   std::nullopt,
                   EncodeDeviceInstallExit({true, false, false, 0}),
                   true,
                   {kInstalled}},
        HelperCase{"InstalledRestartNeeded",
                   HelperStandIn(),
                   std::nullopt,
                   EncodeDeviceInstallExit({true, true, false, 0}),
                   true,
                   {kInstalled, kRestart}},
        HelperCase{
            "NothingToDo", HelperStandIn(), std::nullopt, EncodeDeviceInstallExit({}), true, {}},
        HelperCase{"Failed",
                   HelperStandIn(),
                   std::nullopt,
                   EncodeDeviceInstallExit({false, false, true, 0xE0000235}),
                   true,
                   {InstallFailed(0xE0000235)}},
        HelperCase{"HelperDied",
                   HelperStandIn(),
                   std::nullopt,
                   0xC0000005,
                   true,
                   {InstallFailed(0xC0000005)}},
        HelperCase{"HelperCannotStart", HelperStandIn(), 193u, 0, true, {InstallFailed(193)}},
        HelperCase{"HelperMissing", std::nullopt, std::nullopt, 0, false, {InstallFailed(2)}},
        // ERROR_INVALID_IMAGE_HASH: a file planted in the helper's place never runs.
        HelperCase{
            "HelperReplaced", HelperStandIn() + " ", std::nullopt, 0, false, {InstallFailed(577)}},
        HelperCase{"HelperEmpty", std::string(), std::nullopt, 0, false, {InstallFailed(577)}}),
    [](const auto& row) { return std::string(row.param.name); });

// The step belongs to a successful staging, already-staged included, before the summary.
struct StagingCase {
  const char* name;
  std::uint32_t error;  // of the staging; 0: staged
  bool deviceStep;
};

class DeviceStepInRunTest : public WholeRunTest,
                            public ::testing::WithParamInterface<StagingCase> {};

TEST_P(DeviceStepInRunTest, FollowsOnlyASuccessfulStaging) {
  fake_.nativeArchitecture = 0;
  fake_.setupCopyError = GetParam().error;
  fake_.infSections["Manufacturer"] = {{"QZ", "QZ", "NTx86"}};
  fake_.infSections["QZ.NTx86"] = {{"QZ USB to UART", "QZ_Uart", kOurId}};
  fake_.devices = {kNoDriver};

  EXPECT_EQ(DriverSetupMain(), 0);

  const bool listed = std::count(fake_.calls.begin(), fake_.calls.end(), "ListPresentDevices") == 1;
  EXPECT_EQ(listed, GetParam().deviceStep);
  const Lines messages = LoggedMessages();
  const auto at = std::find(messages.begin(), messages.end(), Gbk(kInstalled));
  if (GetParam().deviceStep) {
    ASSERT_NE(at, messages.end());
    EXPECT_EQ(*(at + 1), Gbk("SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"));
  } else {
    EXPECT_EQ(at, messages.end());
  }
}

INSTANTIATE_TEST_SUITE_P(Staging, DeviceStepInRunTest,
                         ::testing::Values(StagingCase{"Staged", 0, true},
                                           StagingCase{"AlreadyStaged", 80, true},
                                           StagingCase{"StagingFailed", 2, false}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace

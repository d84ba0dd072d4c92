#include "device/device_install.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/device_install_exit.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kOurId = "USB\\VID_1A86&PID_E0A1";
const std::string kOurOtherId = "USB\\VID_1A86&PID_E0A2";

// [Manufacturer] lines: key, models section, decorations.
struct ModelsCase {
  const char* name;
  std::vector<InfLine> manufacturer;
  std::string architecture;
  Lines sections;
};

class ModelsSectionsTest : public ::testing::TestWithParam<ModelsCase> {};

TEST_P(ModelsSectionsTest, PicksTheSectionsWindowsReadsOnThisArchitecture) {
  EXPECT_EQ(ModelsSections(GetParam().manufacturer, GetParam().architecture), GetParam().sections);
}

INSTANTIATE_TEST_SUITE_P(
    Decorations, ModelsSectionsTest,
    ::testing::Values(
        ModelsCase{"X64Decorated", {{"QZ", "QZ", "NTx86", "NTamd64"}}, "amd64", {"QZ.NTamd64"}},
        ModelsCase{"X86Decorated", {{"QZ", "QZ", "NTx86", "NTamd64"}}, "x86", {"QZ.NTx86"}},
        ModelsCase{"DecorationLetterCaseAndVersions",
                   {{"QZ", "QZ", "ntAMD64", "NTamd64.6.1", "NTx86"}},
                   "amd64",
                   {"QZ.ntAMD64", "QZ.NTamd64.6.1"}},
        ModelsCase{
            "PlainNtWhenNoArchitectureMatches", {{"QZ", "QZ", "NT", "NTx86"}}, "amd64", {"QZ.NT"}},
        ModelsCase{"UndecoratedOnX86", {{"QZ", "QZ"}}, "x86", {"QZ"}},
        // 64-bit Windows reads no undecorated models section.
        ModelsCase{"UndecoratedNotOnX64", {{"QZ", "QZ"}}, "amd64", {}},
        ModelsCase{"OtherArchitectureOnly", {{"QZ", "QZ", "NTia64"}}, "amd64", {}},
        ModelsCase{"TwoManufacturers",
                   {{"QZ", "QZ", "NTamd64"}, {"Partner", "Partner", "NTamd64"}},
                   "amd64",
                   {"QZ.NTamd64", "Partner.NTamd64"}},
        ModelsCase{"LineWithoutSection", {{"QZ"}}, "x86", {}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ModelIdsTest, EveryIdFromFieldTwoOnOnceEach) {
  const std::vector<InfLine> lines = {
      {"QZ USB to UART", "QZ_Uart", kOurId, "USB\\Class_02"},
      {"QZ USB to UART B", "QZ_Uart", "usb\\vid_1a86&pid_e0a1", kOurOtherId},
      {"No IDs", "QZ_Uart"},
      {"Empty field", "QZ_Uart", "", kOurOtherId}};
  EXPECT_EQ(ModelIds(lines), (Lines{kOurId, "USB\\Class_02", kOurOtherId}));
}

// Every ID through the exit code and back, and codes the helper never makes.
TEST(DeviceInstallExitTest, ResultsSurviveTheExitCode) {
  const std::vector<DeviceInstallResult> results = {
      {false, false, false, 0},         {true, false, false, 0},
      {true, true, false, 0},           {false, false, true, 5},
      {true, true, true, 0xE0000235},   {false, false, true, 0xE000020B},
      {false, false, true, 0x800B0109}, {false, false, true, 0xFFFF}};
  for (const DeviceInstallResult& result : results) {
    const DeviceInstallResult back = DecodeDeviceInstallExit(EncodeDeviceInstallExit(result));
    EXPECT_EQ(back.installed, result.installed) << result.error;
    EXPECT_EQ(back.rebootNeeded, result.rebootNeeded) << result.error;
    EXPECT_EQ(back.failed, result.failed) << result.error;
    EXPECT_EQ(back.error, result.error);
  }
  // A helper that died, or one that could not read its arguments.
  // The last one carries our tag but a bit no code of the helper's sets.
  for (const std::uint32_t code : {0xC0000005u, 87u, 0u, 1u, 0x50000010u}) {
    const DeviceInstallResult died = DecodeDeviceInstallExit(code);
    EXPECT_TRUE(died.failed && !died.installed && died.error == code) << code;
  }
}

}  // namespace

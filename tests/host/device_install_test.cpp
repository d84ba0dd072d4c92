#include "device/device_install.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/device_install_exit.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kOurId = "USB\\VID_1A86&PID_E0A1";
const std::string kOurOtherId = "USB\\VID_1A86&PID_E0A2";

// Releases as RtlGetVersion answers them: version, build, product type, suites.
const OsVersion kXp{5, 1, 2600, 1, 0x0300};
const OsVersion kWindows7{6, 1, 7601, 1, 0x0100};
const OsVersion kServer2008R2{6, 1, 7601, 3, 0x0110};
const OsVersion kWindows10_1507{10, 0, 10240, 1, 0x0100};
const OsVersion kWindows10_22H2{10, 0, 19045, 1, 0x0100};
const OsVersion kWindows11{10, 0, 22621, 1, 0x0100};

// [Manufacturer] lines (key, models section, decorations) against a release: the sections
// Windows reads there.
struct ModelsCase {
  const char* name;
  std::vector<InfLine> manufacturer;
  std::string architecture;
  OsVersion os;
  Lines sections;
};

class ModelsSectionsTest : public ::testing::TestWithParam<ModelsCase> {};

TEST_P(ModelsSectionsTest, PicksTheSectionWindowsReadsOnThisRelease) {
  const ModelsCase& c = GetParam();
  EXPECT_EQ(ModelsSections(c.manufacturer, c.architecture, c.os), c.sections);
}

INSTANTIATE_TEST_SUITE_P(
    Decorations, ModelsSectionsTest,
    ::testing::Values(
        // Plain and architecture only.
        ModelsCase{"UndecoratedOnX86", {{"QZ", "QZ"}}, "x86", kWindows10_22H2, {"QZ"}},
        // 64-bit Windows reads no section whose architecture is not named.
        ModelsCase{"UndecoratedNotOnX64", {{"QZ", "QZ"}}, "amd64", kWindows10_22H2, {}},
        ModelsCase{"PlainNtOnX86", {{"QZ", "QZ", "NT"}}, "x86", kXp, {"QZ.NT"}},
        ModelsCase{"PlainNtNotOnX64", {{"QZ", "QZ", "NT", "NTx86"}}, "amd64", kWindows7, {}},
        ModelsCase{"NamedArchitectureBeforePlainNt",
                   {{"QZ", "QZ", "NT", "NTx86"}},
                   "x86",
                   kWindows7,
                   {"QZ.NTx86"}},
        ModelsCase{
            "X64Decorated", {{"QZ", "QZ", "NTx86", "NTamd64"}}, "amd64", kWindows7, {"QZ.NTamd64"}},
        ModelsCase{"OtherArchitectureOnly", {{"QZ", "QZ", "NTia64"}}, "amd64", kWindows7, {}},
        ModelsCase{"UnknownArchitectureIgnored",
                   {{"QZ", "QZ", "NTmips", "NTamd64"}},
                   "amd64",
                   kWindows7,
                   {"QZ.NTamd64"}},
        // major.minor: the highest version not above the running one.
        ModelsCase{"NewerVersionOnNewerWindows",
                   {{"QZ", "QZ", "NTamd64.6.1", "NTamd64.10.0", "NTamd64"}},
                   "amd64",
                   kWindows10_22H2,
                   {"QZ.NTamd64.10.0"}},
        ModelsCase{"OlderWindowsIgnoresNewerVersion",
                   {{"QZ", "QZ", "NTamd64.10.0", "NTamd64.6.1"}},
                   "amd64",
                   kWindows7,
                   {"QZ.NTamd64.6.1"}},
        ModelsCase{"MajorOnlyMeansMinorZero",
                   {{"QZ", "QZ", "NTamd64.10", "NTamd64.6.3"}},
                   "amd64",
                   kWindows10_1507,
                   {"QZ.NTamd64.10"}},
        ModelsCase{"OnlyNewerVersionsOnX86FallBackToUndecorated",
                   {{"QZ", "QZ", "NTx86.6.0"}},
                   "x86",
                   kXp,
                   {"QZ"}},
        ModelsCase{
            "OnlyNewerVersionsOnX64", {{"QZ", "QZ", "NTamd64.10.0"}}, "amd64", kWindows7, {}},
        // A version number beats the product type and the suites (the documentation's example).
        ModelsCase{"VersionBeforeSuite",
                   {{"QZ", "QZ", "NT", "NT.5", "NT.5.5", "NT....0x80"}},
                   "x86",
                   kXp,
                   {"QZ.NT.5"}},
        // With a build.
        ModelsCase{"BuildReached",
                   {{"QZ", "QZ", "NTamd64.10.0", "NTamd64.10.0...14393"}},
                   "amd64",
                   kWindows10_22H2,
                   {"QZ.NTamd64.10.0...14393"}},
        ModelsCase{"BuildNotYetReached",
                   {{"QZ", "QZ", "NTamd64.10.0", "NTamd64.10.0...22000"}},
                   "amd64",
                   kWindows10_22H2,
                   {"QZ.NTamd64.10.0"}},
        ModelsCase{"HighestBuildReached",
                   {{"QZ", "QZ", "NTamd64.10.0...22000", "NTamd64.10.0...14393"}},
                   "amd64",
                   kWindows11,
                   {"QZ.NTamd64.10.0...22000"}},
        ModelsCase{"BuildOfAnOlderVersionCountsNot",
                   {{"QZ", "QZ", "NTamd64.6.3...99999"}},
                   "amd64",
                   kWindows10_22H2,
                   {"QZ.NTamd64.6.3...99999"}},
        // Windows 10 before 1607 reads no decoration with a build at all.
        ModelsCase{"BuildUnreadBefore14310",
                   {{"QZ", "QZ", "NTamd64.6.3...9600", "NTamd64.6.1"}},
                   "amd64",
                   kWindows10_1507,
                   {"QZ.NTamd64.6.1"}},
        // With a product type and suites.
        ModelsCase{"ProductTypeMatches",
                   {{"QZ", "QZ", "NTamd64.6.1", "NTamd64.6.1.3"}},
                   "amd64",
                   kServer2008R2,
                   {"QZ.NTamd64.6.1.3"}},
        ModelsCase{"ProductTypeDiffers",
                   {{"QZ", "QZ", "NTamd64.6.1", "NTamd64.6.1.3"}},
                   "amd64",
                   kWindows7,
                   {"QZ.NTamd64.6.1"}},
        ModelsCase{"EverySuiteNamedPresent",
                   {{"QZ", "QZ", "NTamd64.6.1", "NTamd64.6.1..0x0110"}},
                   "amd64",
                   kServer2008R2,
                   {"QZ.NTamd64.6.1..0x0110"}},
        ModelsCase{"ASuiteNamedMissing",
                   {{"QZ", "QZ", "NTamd64.6.1", "NTamd64.6.1..0x0180"}},
                   "amd64",
                   kServer2008R2,
                   {"QZ.NTamd64.6.1"}},
        // Several at once, and letter case.
        ModelsCase{"EachManufacturerItsOwnBest",
                   {{"QZ", "QZ", "NTamd64", "NTamd64.10.0"}, {"Partner", "Partner", "NTamd64.6.1"}},
                   "amd64",
                   kWindows10_22H2,
                   {"QZ.NTamd64.10.0", "Partner.NTamd64.6.1"}},
        ModelsCase{"LetterCase",
                   {{"QZ", "QZ", "ntAMD64.10.0...14393", "NTAMD64"}},
                   "amd64",
                   kWindows10_22H2,
                   {"QZ.ntAMD64.10.0...14393"}},
        ModelsCase{"FirstOfEquals",
                   {{"QZ", "QZ", "NTamd64.6.1", "ntamd64.6.1"}},
                   "amd64",
                   kWindows10_22H2,
                   {"QZ.NTamd64.6.1"}},
        ModelsCase{"Arm64NeedsItsBuild",
                   {{"QZ", "QZ", "NTamd64", "NTarm64.10.0...22000"}},
                   "arm64",
                   kWindows10_22H2,
                   {}},
        ModelsCase{"MalformedIgnored",
                   {{"QZ", "QZ", "NTamd64.ten", "NTamd64.6.1.1.0.0.0", "amd64", "NTamd64.6.1"}},
                   "amd64",
                   kWindows10_22H2,
                   {"QZ.NTamd64.6.1"}},
        ModelsCase{"LineWithoutSection", {{"QZ"}}, "x86", kWindows10_22H2, {}}),
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

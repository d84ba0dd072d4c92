#include "common/windows_release.h"

#include <gtest/gtest.h>

#include "tests/host/test_support.h"

namespace {

// The entry point is resolved on the first query of the process; resolve it before any
// test so each test sees only its own queries, whichever runs first.
class ResolveRtlGetVersionOnce : public ::testing::Environment {
 public:
  void SetUp() override {
    static FakePlatform fake;
    UseFakePlatform(fake);
    DetectWindowsRelease();
    ASSERT_EQ(fake.calls[0], "GetModuleHandleW ntdll.dll");
    ASSERT_EQ(fake.calls[1], "GetProcAddress ntdll.dll RtlGetVersion");
  }
};
const auto* const kResolveOnce = ::testing::AddGlobalTestEnvironment(new ResolveRtlGetVersionOnce);

struct VersionCase {
  const char* name;
  std::uint32_t major;
  std::uint32_t minor;
  std::uint16_t servicePack;
  std::uint32_t build;
  std::int32_t status;
  WindowsRelease expected;
};

class DetectWindowsReleaseTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(DetectWindowsReleaseTest, ClassifiesByTheNewestThresholdReached) {
  const VersionCase& c = GetParam();
  FakePlatform fake;
  fake.majorVersion = c.major;
  fake.minorVersion = c.minor;
  fake.servicePackMajor = c.servicePack;
  fake.buildNumber = c.build;
  fake.rtlGetVersionStatus = c.status;
  UseFakePlatform(fake);

  EXPECT_EQ(DetectWindowsRelease(), c.expected);
  EXPECT_TRUE(fake.versionRecordWasZeroed);
  // One query per threshold tried, newest first (Windows 10's code is 5, XP's 0); the entry
  // point is never looked up again.
  const int code = static_cast<int>(c.expected);
  const std::size_t tried =
      c.expected == WindowsRelease::kUnknown ? 6 : static_cast<std::size_t>(6 - code);
  EXPECT_EQ(fake.calls, std::vector<std::string>(tried, "RtlGetVersion size=284"));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, DetectWindowsReleaseTest,
    ::testing::Values(
        VersionCase{"Win10", 10, 0, 0, 19045, 0, WindowsRelease::kWindows10},
        VersionCase{"Win10EarlyBuild", 10, 0, 0, 10240, 0, WindowsRelease::kWindows10},
        VersionCase{"Win11Numbering", 11, 0, 0, 1, 0, WindowsRelease::kWindows10},
        VersionCase{"Hypothetical6_4", 6, 4, 0, 1, 0, WindowsRelease::kWindows81},
        VersionCase{"Win81", 6, 3, 0, 9600, 0, WindowsRelease::kWindows81},
        VersionCase{"Win8", 6, 2, 0, 9200, 0, WindowsRelease::kWindows8},
        VersionCase{"Win7", 6, 1, 0, 7600, 0, WindowsRelease::kWindows7},
        VersionCase{"Win7Sp1", 6, 1, 1, 7601, 0, WindowsRelease::kWindows7},
        VersionCase{"Vista", 6, 0, 0, 6000, 0, WindowsRelease::kVista},
        VersionCase{"VistaSp2", 6, 0, 2, 6002, 0, WindowsRelease::kVista},
        VersionCase{"Xp64Or2003", 5, 2, 2, 3790, 0, WindowsRelease::kXp},
        VersionCase{"Xp", 5, 1, 0, 2600, 0, WindowsRelease::kXp},
        VersionCase{"XpSp3", 5, 1, 3, 2600, 0, WindowsRelease::kXp},
        VersionCase{"Win2000", 5, 0, 4, 2195, 0, WindowsRelease::kUnknown},
        VersionCase{"Win2000NoServicePack", 5, 0, 0, 2195, 0, WindowsRelease::kUnknown},
        VersionCase{"QueryFails", 10, 0, 0, 19045, static_cast<std::int32_t>(0xC0000001),
                    WindowsRelease::kUnknown}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(IsWindowsVersionAtLeastTest, ComparesMajorMinorThenServicePack) {
  FakePlatform fake;
  fake.majorVersion = 6;
  fake.minorVersion = 1;
  fake.servicePackMajor = 1;
  UseFakePlatform(fake);
  EXPECT_TRUE(IsWindowsVersionAtLeast(6, 1, 1));
  EXPECT_FALSE(IsWindowsVersionAtLeast(6, 1, 2));
  EXPECT_TRUE(IsWindowsVersionAtLeast(6, 0, 9));  // minor decides before the service pack
  EXPECT_FALSE(IsWindowsVersionAtLeast(6, 2, 0));
  EXPECT_TRUE(IsWindowsVersionAtLeast(5, 9, 9));  // major decides before the minor
  EXPECT_FALSE(IsWindowsVersionAtLeast(7, 0, 0));
}

struct ArchitectureCase {
  std::uint16_t architecture;
  int is64Bit;
};

class Is64BitWindowsTest : public ::testing::TestWithParam<ArchitectureCase> {};

TEST_P(Is64BitWindowsTest, AsksForTheNativeArchitectureEveryTime) {
  FakePlatform fake;
  fake.nativeArchitecture = GetParam().architecture;
  fake.processArchitecture = 0;  // a 32-bit process sees x86 through GetSystemInfo
  UseFakePlatform(fake);
  EXPECT_EQ(Is64BitWindows(), GetParam().is64Bit);
  EXPECT_EQ(Is64BitWindows(), GetParam().is64Bit);
  const std::vector<std::string> once = {"GetModuleHandleA kernel32",
                                         "GetProcAddress kernel32 GetNativeSystemInfo",
                                         "GetNativeSystemInfo"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(fake.calls, twice);
}

INSTANTIATE_TEST_SUITE_P(Architectures, Is64BitWindowsTest,
                         ::testing::Values(ArchitectureCase{9, 1}, ArchitectureCase{6, 1},
                                           ArchitectureCase{0, 0}, ArchitectureCase{5, 0},
                                           ArchitectureCase{12, 0}, ArchitectureCase{0xFFFF, 0}));

TEST(Is64BitWindowsTest, FallsBackToGetSystemInfoWithoutGetNativeSystemInfo) {
  FakePlatform fake;
  fake.hasGetNativeSystemInfo = false;
  fake.nativeArchitecture = 0;
  fake.processArchitecture = 9;
  UseFakePlatform(fake);
  EXPECT_EQ(Is64BitWindows(), 1);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"GetModuleHandleA kernel32",
                                                  "GetProcAddress kernel32 GetNativeSystemInfo",
                                                  "GetSystemInfo"}));
}

TEST(QueryNativeSystemInfoTest, NullRecordAsksNothing) {
  FakePlatform fake;
  UseFakePlatform(fake);
  QueryNativeSystemInfo(nullptr);
  EXPECT_TRUE(fake.calls.empty());
}

}  // namespace

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

using Arch = NativeArchitecture;

const std::vector<std::string> kAskIsWow64Process2 = {"GetModuleHandleA kernel32",
                                                      "GetProcAddress kernel32 IsWow64Process2"};
const std::vector<std::string> kAskNativeSystemInfo = {
    "GetModuleHandleA kernel32", "GetProcAddress kernel32 GetNativeSystemInfo",
    "GetNativeSystemInfo"};

// Windows before 10 1709 has no IsWow64Process2: GetNativeSystemInfo answers.
struct SystemInfoCase {
  std::uint16_t architecture;  // PROCESSOR_ARCHITECTURE_*
  Arch expected;
};

class NativeSystemInfoTest : public ::testing::TestWithParam<SystemInfoCase> {};

TEST_P(NativeSystemInfoTest, AnswersWhereIsWow64Process2IsMissing) {
  FakePlatform fake;
  fake.nativeArchitecture = GetParam().architecture;
  fake.processArchitecture = 0;  // a 32-bit process sees x86 through GetSystemInfo
  UseFakePlatform(fake);
  EXPECT_EQ(DetectNativeArchitecture(), GetParam().expected);
  EXPECT_EQ(fake.calls, Join({kAskIsWow64Process2, kAskNativeSystemInfo}));
}

INSTANTIATE_TEST_SUITE_P(Architectures, NativeSystemInfoTest,
                         ::testing::Values(SystemInfoCase{9, Arch::kAmd64},
                                           SystemInfoCase{6, Arch::kIa64},
                                           SystemInfoCase{12, Arch::kArm64},
                                           SystemInfoCase{0, Arch::kX86},
                                           SystemInfoCase{5, Arch::kX86},  // 32-bit ARM
                                           SystemInfoCase{0xFFFF, Arch::kX86}));

TEST(NativeSystemInfoTest, FallsBackToGetSystemInfoWithoutGetNativeSystemInfo) {
  FakePlatform fake;
  fake.hasGetNativeSystemInfo = false;
  fake.nativeArchitecture = 0;
  fake.processArchitecture = 9;
  UseFakePlatform(fake);
  EXPECT_EQ(DetectNativeArchitecture(), Arch::kAmd64);
  EXPECT_EQ(fake.calls, Join({kAskIsWow64Process2,
                              {"GetModuleHandleA kernel32",
                               "GetProcAddress kernel32 GetNativeSystemInfo", "GetSystemInfo"}}));
}

// Where IsWow64Process2 answers with a machine it knows, that machine decides; anything else,
// and its failure, leave the question to GetNativeSystemInfo. An emulated x86 process is told
// x64 by GetNativeSystemInfo on Windows 11 on ARM, which the fallback rows show.
struct Wow64Case {
  const char* name;
  std::uint16_t nativeMachine;  // IMAGE_FILE_MACHINE_*
  std::uint32_t error;          // IsWow64Process2 fails with it
  Arch expected;
  bool fallsBack;
};

class IsWow64Process2Test : public ::testing::TestWithParam<Wow64Case> {};

TEST_P(IsWow64Process2Test, DecidesWhenItKnowsTheMachine) {
  const Wow64Case& c = GetParam();
  FakePlatform fake;
  fake.hasIsWow64Process2 = true;
  fake.wow64NativeMachine = c.nativeMachine;
  fake.isWow64Process2Error = c.error;
  fake.nativeArchitecture = 9;
  UseFakePlatform(fake);
  EXPECT_EQ(DetectNativeArchitecture(), c.expected);
  const std::vector<std::string> asked = Join({kAskIsWow64Process2, {"IsWow64Process2 current"}});
  EXPECT_EQ(fake.calls, c.fallsBack ? Join({asked, kAskNativeSystemInfo}) : asked);
}

INSTANTIATE_TEST_SUITE_P(Machines, IsWow64Process2Test,
                         ::testing::Values(Wow64Case{"Arm64", 0xAA64, 0, Arch::kArm64, false},
                                           Wow64Case{"X64", 0x8664, 0, Arch::kAmd64, false},
                                           Wow64Case{"X86", 0x014C, 0, Arch::kX86, false},
                                           Wow64Case{"Itanium", 0x0200, 0, Arch::kIa64, false},
                                           Wow64Case{"UnknownMachine", 0x01C4, 0, Arch::kAmd64,
                                                     true},
                                           Wow64Case{"Fails", 0xAA64, 6, Arch::kAmd64, true}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(NativeArchitectureTest, SixtyFourBitsAndInfDecorations) {
  EXPECT_FALSE(Is64Bit(Arch::kX86));
  EXPECT_TRUE(Is64Bit(Arch::kAmd64));
  EXPECT_TRUE(Is64Bit(Arch::kIa64));
  EXPECT_TRUE(Is64Bit(Arch::kArm64));
  EXPECT_STREQ(InfArchitecture(Arch::kX86), "x86");
  EXPECT_STREQ(InfArchitecture(Arch::kAmd64), "amd64");
  EXPECT_STREQ(InfArchitecture(Arch::kIa64), "ia64");
  EXPECT_STREQ(InfArchitecture(Arch::kArm64), "arm64");
}

TEST(QueryNativeSystemInfoTest, NullRecordAsksNothing) {
  FakePlatform fake;
  UseFakePlatform(fake);
  QueryNativeSystemInfo(nullptr);
  EXPECT_TRUE(fake.calls.empty());
}

}  // namespace

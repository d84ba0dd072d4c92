#include <gtest/gtest.h>

#include "common/windows_release.h"
#include "tests/host/test_support.h"

namespace {

// Runs in a process of its own: the entry point is looked up once per process.
TEST(RtlGetVersionMissingTest, LookedUpOnceAndItsAbsenceMeansRelease6) {
  FakePlatform missing;
  missing.hasRtlGetVersion = false;
  UseFakePlatform(missing);
  EXPECT_EQ(DetectWindowsRelease(), WindowsRelease::kUnknown);
  EXPECT_FALSE(IsWindowsVersionAtLeast(5, 0, 0));
  EXPECT_EQ(missing.calls, (std::vector<std::string>{"GetModuleHandleW ntdll.dll",
                                                     "GetProcAddress ntdll.dll RtlGetVersion"}));

  // Later answers do not matter: the null found first is kept.
  FakePlatform present;
  UseFakePlatform(present);
  EXPECT_EQ(DetectWindowsRelease(), WindowsRelease::kUnknown);
  EXPECT_TRUE(present.calls.empty());
}

}  // namespace

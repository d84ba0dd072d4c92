#include "setup/install_paths.h"

#include <gtest/gtest.h>

#include "tests/host/test_support.h"

namespace {

struct PathCase {
  const char* name;
  std::string modulePath;
  bool builds;
  std::string folder;   // expected program folder
  bool packageInfFits;  // "\Drivers\QZ_UsbToUartDriver.inf" (31 characters)
};

std::string FolderOfLength(std::size_t length) {
  std::string folder = "C:\\";
  while (folder.size() < length) folder += folder.size() % 20 == 19 ? '\\' : 'd';
  return folder;
}

class InstallPathsTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(InstallPathsTest, BuildsEveryBufferFromTheProgramFolder) {
  const PathCase& c = GetParam();
  FakePlatform fake;
  fake.modulePath = c.modulePath;
  UseFakePlatform(fake);

  InstallPaths paths;
  std::memset(&paths, 'x', sizeof paths);
  ASSERT_EQ(BuildInstallPaths(paths), c.builds);
  EXPECT_EQ(fake.calls, std::vector<std::string>{"GetModuleFileNameA null capacity=260"});
  if (!c.builds) return;

  EXPECT_EQ(std::string(paths.logPath), c.folder + "\\logs\\QZ_Orvo_Driver_Log.txt");
  EXPECT_EQ(std::string(paths.driversFolder), c.folder + "\\Drivers\\");
  EXPECT_EQ(std::string(paths.helperPath), c.folder + "\\QZ_DeviceInstall64.exe");
  EXPECT_EQ(std::string(paths.driverInfPath),
            c.packageInfFits ? c.folder + "\\Drivers\\QZ_UsbToUartDriver.inf" : "");
  // Whatever is not path is zero: no stale bytes after any terminator.
  for (const char* buffer :
       {paths.driverInfPath, paths.driversFolder, paths.logPath, paths.helperPath}) {
    for (std::size_t i = std::strlen(buffer); i < kPathCapacity; ++i) ASSERT_EQ(buffer[i], '\0');
  }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, InstallPathsTest,
    ::testing::Values(
        PathCase{"Normal", "C:\\Program Files\\QZ\\QZ_DriverSetup.exe", true,
                 "C:\\Program Files\\QZ", true},
        PathCase{"DriveRoot", "D:\\QZ_DriverSetup.exe", true, "D:", true},
        PathCase{"Folder222", FolderOfLength(222) + "\\QZ_DriverSetup.exe", true,
                 FolderOfLength(222), true},
        PathCase{"Folder223", FolderOfLength(223) + "\\QZ_DriverSetup.exe", true,
                 FolderOfLength(223), true},
        PathCase{"Folder228", FolderOfLength(228) + "\\a.exe", true, FolderOfLength(228), true},
        PathCase{"Folder229", FolderOfLength(229) + "\\a.exe", true, FolderOfLength(229), false},
        PathCase{"Folder231", FolderOfLength(231) + "\\a.exe", true, FolderOfLength(231), false},
        PathCase{"Folder232LogDoesNotFit", FolderOfLength(232) + "\\a.exe", false, "", false},
        PathCase{"NoBackslash", "QZ_DriverSetup.exe", false, "", false},
        PathCase{"AnswerCutOff", FolderOfLength(300) + "\\QZ_DriverSetup.exe", false, "", false},
        PathCase{"AnswerFillsBufferExactly", FolderOfLength(240) + "\\" + std::string(19, 'e'),
                 false, "", false}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(InstallPathsTest, NoAnswerForTheModulePathBuildsNothing) {
  FakePlatform fake;
  fake.moduleFileNameError = kErrorAccessDenied;
  UseFakePlatform(fake);
  InstallPaths paths;
  EXPECT_FALSE(BuildInstallPaths(paths));
}

}  // namespace

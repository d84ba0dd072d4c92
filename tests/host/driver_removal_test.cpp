#include "remove/driver_removal.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

const char kPackageInf[] = "C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf";
const std::string kInfFolder = "C:\\Windows\\inf\\";

const std::string kOurs = "[Version]\r\nProvider=%QZ%\r\n; release 1.2.0\r\n";
const std::string kOlderOurs = "[Version]\r\nProvider=%QZ%\r\n; release 1.1.0\r\n";
const std::string kTheirs = "[Version]\r\nProvider=%Other%\r\n";

const Lines kOpening = {"INFO: 开启日志 >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \n",
                        "当前驱动版本：V1.2.0 \n", "INFO: 卸载 QZ_UsbToUartDriver 驱动 \n"};
const Lines kClosing = {"INFO: 关闭日志\n", "\n"};
const std::string kNoneFound = "Warning: 未找到已安装的 QZ_UsbToUartDriver 驱动包 \n";
const std::string kDone = "SUCC: QZ_UsbToUartDriver 驱动卸载完成！\n";
const std::string kFailed = "FAIL: QZ_UsbToUartDriver 驱动卸载失败！\n";

std::string Removed(const std::string& name) { return "SUCC: 已删除驱动包 " + name + " \n"; }
std::string NotRemoved(const std::string& name, int code) {
  return "FAIL: 无法删除驱动包 " + name + "，错误码 " + std::to_string(code) + " \n";
}

// The remover as the bundle runs it: no arguments.
int RemoveAsShipped() {
  const char* const argv[] = {"QZ_DriverRemove.exe", nullptr};
  return DriverRemoveMain(1, argv);
}

// An INF in the system's INF folder; `original` and `provider` as the Setup API reads them.
void Publish(const fs::path& root, FakePlatform& fake, const std::string& name,
             const std::string& bytes, const std::string& original, const std::string& provider) {
  WriteBytes(root / (kInfFolder + name), bytes);
  fake.originalNames[kInfFolder + name] = original;
  fake.infVersionByPath[kInfFolder + name] = {{"Provider", provider}};
}

class DriverRemovalTest : public WholeRunTest {
 protected:
  void SetUp() override {
    WholeRunTest::SetUp();
    fake_.modulePath = "C:\\QZ\\QZ_DriverRemove.exe";
    WriteBytes(scratch_.path() / kPackageInf, kOurs);
    fake_.infVersionByPath[kPackageInf] = {{"Provider", "QZ"}};
  }

  void Published(const std::string& name, const std::string& bytes, const std::string& original,
                 const std::string& provider) {
    Publish(scratch_.path(), fake_, name, bytes, original, provider);
  }
  bool StillThere(const std::string& name) const {
    return fs::exists(scratch_.path() / (kInfFolder + name));
  }
  Lines Uninstalls() const {
    Lines calls;
    for (const auto& call : fake_.calls) {
      if (call.rfind("SetupUninstallOEMInfA", 0) == 0) calls.push_back(call);
    }
    return calls;
  }
};

struct FolderCase {
  const char* name;
  // The installer's check finds this release staged: byte for byte the bundle's INF. An
  // earlier release the remover takes out is not it.
  bool thisReleaseStaged;
  std::function<void(const fs::path&, FakePlatform&)> folder;
  Lines removed;  // the INFs asked to be removed, in folder order
  Lines kept;     // INFs that must still be there
  Lines records;  // between the opening and the closing records
};

class RemovalFolderTest : public DriverRemovalTest,
                          public ::testing::WithParamInterface<FolderCase> {};

TEST_P(RemovalFolderTest, RemovesExactlyThisPackageAndSaysWhat) {
  const FolderCase& c = GetParam();
  c.folder(scratch_.path(), fake_);
  EXPECT_EQ(ThisReleaseStaged(kPackageInf), c.thisReleaseStaged);

  EXPECT_EQ(RemoveAsShipped(), 0);

  Lines asked;
  for (const auto& name : c.removed) asked.push_back("SetupUninstallOEMInfA " + name + " flags=1");
  EXPECT_EQ(Uninstalls(), asked);
  for (const auto& name : c.kept) EXPECT_TRUE(StillThere(name)) << name << " was removed";
  EXPECT_EQ(LoggedMessages(), Gbk(Join({kOpening, c.records, kClosing})));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, RemovalFolderTest,
    ::testing::Values(
        FolderCase{
            "Nothing", false, [](const fs::path&, FakePlatform&) {}, {}, {}, {kNoneFound, kDone}},
        // Windows' own INFs are not even looked at, whatever they hold.
        FolderCase{"OursByteIdentical",
                   true,
                   [](const fs::path& root, FakePlatform& f) {
                     Publish(root, f, "oem12.inf", kOurs, "oem12.inf", "");
                     Publish(root, f, "usbser.inf", kOurs, "usbser.inf", "");
                   },
                   {"oem12.inf"},
                   {"usbser.inf"},
                   {Removed("oem12.inf"), kDone}},
        // Wine keeps a free source name: the package's own file name in the INF folder.
        FolderCase{"OursUnderItsOwnName",
                   true,
                   [](const fs::path& root, FakePlatform& f) {
                     Publish(root, f, "QZ_UsbToUartDriver.inf", kOurs, "QZ_UsbToUartDriver.inf",
                             "QZ");
                   },
                   {"QZ_UsbToUartDriver.inf"},
                   {},
                   {Removed("QZ_UsbToUartDriver.inf"), kDone}},
        FolderCase{"OlderReleaseByOriginalNameAndProvider",
                   true,
                   [](const fs::path& root, FakePlatform& f) {
                     Publish(root, f, "oem3.inf", kOlderOurs, "qz_usbtouartdriver.inf", "QZ");
                     Publish(root, f, "oem7.inf", kOurs, "oem7.inf", "QZ");
                   },
                   {"oem3.inf", "oem7.inf"},
                   {},
                   {Removed("oem3.inf"), Removed("oem7.inf"), kDone}},
        FolderCase{"AnotherMakersWithTheSameFileName",
                   false,
                   [](const fs::path& root, FakePlatform& f) {
                     Publish(root, f, "oem4.inf", kTheirs, "QZ_UsbToUartDriver.inf", "Other");
                     Publish(root, f, "QZ_UsbToUartDriver.inf", kTheirs, "QZ_UsbToUartDriver.inf",
                             "Other");
                   },
                   {},
                   {"oem4.inf", "QZ_UsbToUartDriver.inf"},
                   {kNoneFound, kDone}},
        // Providers compare as Windows compares them: ASCII letters in either case.
        FolderCase{"OlderReleaseWhoseProviderDiffersInCase",
                   false,
                   [](const fs::path& root, FakePlatform& f) {
                     Publish(root, f, "oem3.inf", kOlderOurs, "QZ_UsbToUartDriver.inf", "qz");
                   },
                   {"oem3.inf"},
                   {},
                   {Removed("oem3.inf"), kDone}},
        // Without our own Provider, only our exact bytes identify the package: an empty
        // Provider of another maker's INF of the same name is no match.
        FolderCase{"OurProviderUnreadableAndTheirsEmpty",
                   true,
                   [](const fs::path& root, FakePlatform& f) {
                     f.infVersionByPath[kPackageInf] = {};
                     Publish(root, f, "oem4.inf", kTheirs, "QZ_UsbToUartDriver.inf", "");
                     Publish(root, f, "oem12.inf", kOurs, "oem12.inf", "");
                   },
                   {"oem12.inf"},
                   {"oem4.inf"},
                   {Removed("oem12.inf"), kDone}},
        FolderCase{"AnotherMakersWithAnotherName",
                   false,
                   [](const fs::path& root, FakePlatform& f) {
                     Publish(root, f, "oem5.inf", kTheirs, "their_uart.inf", "QZ");
                   },
                   {},
                   {"oem5.inf"},
                   {kNoneFound, kDone}},
        // The platform says it is done, but the INF is still there: not removed.
        FolderCase{"ReportedDoneButStillThere",
                   true,
                   [](const fs::path& root, FakePlatform& f) {
                     Publish(root, f, "oem12.inf", kOurs, "oem12.inf", "QZ");
                     f.uninstalls["oem12.inf"] = {1, 0, false};
                   },
                   {"oem12.inf"},
                   {"oem12.inf"},
                   {NotRemoved("oem12.inf", 0), kFailed}},
        FolderCase{"RemovalFails",
                   true,
                   [](const fs::path& root, FakePlatform& f) {
                     Publish(root, f, "oem12.inf", kOurs, "oem12.inf", "QZ");
                     Publish(root, f, "oem13.inf", kOlderOurs, "QZ_UsbToUartDriver.inf", "QZ");
                     f.uninstalls["oem12.inf"] = {0, 5, false};
                   },
                   {"oem12.inf", "oem13.inf"},
                   {"oem12.inf"},
                   {NotRemoved("oem12.inf", 5), Removed("oem13.inf"), kFailed}}),
    [](const auto& row) { return std::string(row.param.name); });

// The installer package's narrower removals, over one folder holding this release, an earlier
// one, another maker's INF of the same name and one of Windows' own.
struct ReleasesCase {
  const char* name;
  std::vector<const char*> arguments;
  Lines removed;
  std::string heading;
};

class RemovalReleasesTest : public DriverRemovalTest,
                            public ::testing::WithParamInterface<ReleasesCase> {};

TEST_P(RemovalReleasesTest, TakesOutJustTheReleasesItIsAskedFor) {
  const ReleasesCase& c = GetParam();
  Published("oem3.inf", kOlderOurs, "QZ_UsbToUartDriver.inf", "QZ");
  Published("oem4.inf", kTheirs, "QZ_UsbToUartDriver.inf", "Other");
  Published("oem7.inf", kOurs, "oem7.inf", "QZ");
  Published("usbser.inf", kOurs, "usbser.inf", "");
  std::vector<const char*> argv = {"QZ_DriverRemove.exe"};
  argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
  argv.push_back(nullptr);

  EXPECT_EQ(DriverRemoveMain(static_cast<int>(argv.size() - 1), argv.data()), 0);

  Lines asked;
  Lines records = {kOpening[0], kOpening[1], c.heading};
  for (const auto& name : c.removed) {
    asked.push_back("SetupUninstallOEMInfA " + name + " flags=1");
    records.push_back(Removed(name));
  }
  EXPECT_EQ(Uninstalls(), asked);
  for (const char* name : {"oem3.inf", "oem4.inf", "oem7.inf", "usbser.inf"}) {
    EXPECT_EQ(StillThere(name),
              std::find(c.removed.begin(), c.removed.end(), name) == c.removed.end())
        << name;
  }
  records.push_back(kDone);
  EXPECT_EQ(LoggedMessages(), Gbk(Join({records, kClosing})));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RemovalReleasesTest,
    ::testing::Values(ReleasesCase{"None", {}, {"oem3.inf", "oem7.inf"}, kOpening[2]},
                      ReleasesCase{
                          "ThisRelease",
                          {"/this-release"},
                          {"oem7.inf"},
                          "INFO: 安装已回滚，删除本次安装预安装的 QZ_UsbToUartDriver 驱动包 \n"},
                      ReleasesCase{"EarlierReleasesAnyCase",
                                   {"/Earlier-Releases"},
                                   {"oem3.inf"},
                                   "INFO: 升级已完成，删除旧版本的 QZ_UsbToUartDriver 驱动包 \n"}),
    [](const auto& row) { return std::string(row.param.name); });

// Whatever else it is given, it does nothing and writes nothing.
TEST_F(DriverRemovalTest, UnknownArgumentsDoNothing) {
  Published("oem7.inf", kOurs, "oem7.inf", "QZ");
  for (const std::vector<const char*>& arguments : {std::vector<const char*>{"/all"},
                                                    {"this-release"},
                                                    {"/this-release", "/this-release"},
                                                    {""}}) {
    std::vector<const char*> argv = {"QZ_DriverRemove.exe"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.push_back(nullptr);
    fake_.calls.clear();
    EXPECT_EQ(DriverRemoveMain(static_cast<int>(argv.size() - 1), argv.data()), 87);
    EXPECT_EQ(AfterDllSearch(fake_.calls), Lines{}) << arguments[0];
  }
  EXPECT_TRUE(StillThere("oem7.inf"));
  EXPECT_FALSE(fs::exists(scratch_.path() / kLogFile));
}

// The installer package tells this release by the SHA-256 it was built with, before any file
// of it is installed.
TEST_F(DriverRemovalTest, StagedInfIsFoundByItsDigest) {
  Published("oem3.inf", kOlderOurs, "QZ_UsbToUartDriver.inf", "QZ");
  EXPECT_TRUE(StagedInfWithSha256(Sha256(kOlderOurs)));
  EXPECT_FALSE(StagedInfWithSha256(Sha256(kOurs)));
  Published("QZ_UsbToUartDriver.inf", kOurs, "QZ_UsbToUartDriver.inf", "QZ");
  EXPECT_TRUE(StagedInfWithSha256(Sha256(kOurs)));
  fake_.windowsDirectoryError = kErrorAccessDenied;
  EXPECT_FALSE(StagedInfWithSha256(Sha256(kOurs)));
}

bool ChangesAnything(const std::string& call) {
  return call.rfind("SetupUninstallOEMInfA", 0) == 0 || call.rfind("DeleteFileA", 0) == 0 ||
         call.rfind("MoveFileA", 0) == 0 || call.rfind("CopyFileA", 0) == 0;
}

TEST_F(DriverRemovalTest, MissingLogsFolderChangesNothingAndExitsWithOne) {
  fs::remove(scratch_.path() / kLogFolder);
  Published("oem12.inf", kOurs, "oem12.inf", "QZ");
  EXPECT_EQ(RemoveAsShipped(), 1);
  EXPECT_EQ(std::count_if(fake_.calls.begin(), fake_.calls.end(), ChangesAnything), 0);
  EXPECT_TRUE(StillThere("oem12.inf"));
  EXPECT_FALSE(fs::exists(scratch_.path() / kLogFolder)) << "the logs folder was created";
}

TEST_F(DriverRemovalTest, PackageInfMissingRemovesNothing) {
  fs::remove(scratch_.path() / kPackageInf);
  Published("oem12.inf", kOurs, "oem12.inf", "QZ");
  EXPECT_FALSE(ThisReleaseStaged(kPackageInf)) << "an unreadable package INF cannot be matched";
  EXPECT_EQ(RemoveAsShipped(), 0);
  EXPECT_EQ(Uninstalls(), Lines{});
  EXPECT_TRUE(StillThere("oem12.inf"));
  EXPECT_EQ(
      LoggedMessages(),
      Gbk(Join({kOpening, {"FAIL: 缺少驱动安装信息文件，无法识别驱动包 \n", kFailed}, kClosing})));
}

// The same lock as the set-up program's, held from before the first record to after the close.
TEST_F(DriverRemovalTest, LockSpansTheWholeRunAndLog) {
  Published("oem12.inf", kOurs, "oem12.inf", "QZ");
  bool logExistedAtWait = true;
  fake_.onWait = [&] { logExistedAtWait = fs::exists(scratch_.path() / kLogFile); };
  std::string logAtRelease;
  fake_.onReleaseMutex = [&] { logAtRelease = ReadBytes(scratch_.path() / kLogFile); };

  EXPECT_EQ(RemoveAsShipped(), 0);

  EXPECT_EQ(AfterDllSearch(fake_.calls).front(), "PrivateNamespacesAvailable");
  EXPECT_NE(std::find(fake_.calls.begin(), fake_.calls.end(),
                      "CreateMutexA QZ_DriverSetup\\QZ_DriverSetup_Run "
                      "security=D:(A;;GA;;;SY)(A;;GA;;;BA)"),
            fake_.calls.end());
  EXPECT_FALSE(logExistedAtWait);
  EXPECT_EQ(LogMessages(logAtRelease), LoggedMessages());
  EXPECT_EQ(LoggedMessages(), Gbk(Join({kOpening, {Removed("oem12.inf"), kDone}, kClosing})));
  EXPECT_EQ(fake_.openHandles, 0);
}

}  // namespace

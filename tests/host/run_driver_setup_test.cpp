#include "setup/run_driver_setup.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <functional>

#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

// The program's Windows paths are single file names in the scratch folder on this host.
const char kLogFolder[] = "C:\\QZ\\logs";
const char kLogFile[] = "C:\\QZ\\logs\\QZ_Orvo_Driver_Log.txt";
const char kSystemInf[] = "C:\\Windows\\inf\\mdmcpq.inf";
const char kSystemDriver[] = "C:\\Windows\\System32\\drivers\\usbser.sys";

const Lines kBanner = {"INFO: 开启日志 >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \n",
                       "当前驱动版本：V1.2.0 \n", "INFO: 获取当前操作系统： \n"};
const Lines kHeading = {"..........\n", "INFO: 安装 QZ_UsbToUartDriver 驱动 \n",
                        "SUCC: 正在调用驱动预安装函数…… \n"};
const Lines kClosing = {"INFO: 关闭日志\n", "\n"};
const Lines kFreshRun =
    Join({kBanner,
          {"INFO: Windows10 64Bits System \n", "SUCC: mdmcpq.inf文件不存在，自动复制\n",
           "SUCC: usbser.sys文件不存在，自动复制\n"},
          kHeading,
          {"SUCC: 驱动预安装函数运行成功。\n", "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"},
          kClosing});

class RunDriverSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.modulePath = "C:\\QZ\\QZ_DriverSetup.exe";
    fake_.majorVersion = 10;
    fake_.nativeArchitecture = 9;
    UseFakePlatform(fake_);
    fs::create_directory(scratch_.path() / kLogFolder);
  }
  void TearDown() override { spdlog::drop_all(); }

  Lines LoggedMessages() const { return LogMessages(ReadBytes(scratch_.path() / kLogFile)); }

  ScratchFolder scratch_;
  FakePlatform fake_;
};

// A system that already holds both files, its mdmcpq.inf edited earlier, and a store that
// already holds the package.
TEST_F(RunDriverSetupTest, SystemThatHasEverythingWritesTheFourteenRecords) {
  const std::u16string edited = u"[FakeModemCopyFileSection]\r\n;usbser.sys\r\n";
  WriteBytes(scratch_.path() / kSystemInf,
             std::string(reinterpret_cast<const char*>(edited.data()), edited.size() * 2));
  WriteBytes(scratch_.path() / kSystemDriver, "system's own");
  fake_.copyAnswer = 0;
  fake_.setupCopyAnswer = 0;
  fake_.setupCopyError = 80;

  for (int start = 1; start <= 2; ++start) {
    EXPECT_EQ(DriverSetupMain(), 0);
    const Lines oneRun = Join(
        {kBanner,
         {"INFO: Windows10 64Bits System \n", "Warning: mdmcpq.inf文件已存在，并可用，无需编辑\n",
          "Warning: usbser.sys文件已存在，无需复制\n"},
         kHeading,
         {"FAIL: 驱动预安装函数运行失败：", "FAIL: 驱动已经存在。 \n",
          "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"},
         kClosing});
    ASSERT_EQ(oneRun.size(), 14u);
    Lines expected;
    for (int i = 0; i < start; ++i) expected = Join({expected, oneRun});
    EXPECT_EQ(LoggedMessages(), Gbk(expected)) << "after start " << start;
  }
  EXPECT_FALSE(spdlog::get("driver_install_info")) << "the entry drops the logger";
}

TEST_F(RunDriverSetupTest, FreshSystemGetsBothFilesAndThePackage) {
  EXPECT_EQ(DriverSetupMain(), 0);
  EXPECT_EQ(LoggedMessages(), Gbk(kFreshRun));
  const std::string staging =
      "SetupCopyOEMInfA C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf media=null type=1 style=4 "
      "size=260 required=null component=requested";
  EXPECT_NE(std::find(fake_.calls.begin(), fake_.calls.end(), staging), fake_.calls.end());
}

// The publisher's trust is settled, and reported, right before the staging call.
TEST_F(RunDriverSetupTest, PublisherTrustedJustBeforeStaging) {
  fake_.infVersion["CatalogFile"] = "qz_uart.cat";
  WriteBytes(scratch_.path() / "C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf", kTrustInfBytes);
  fake_.catalog = VerifiedCatalog();
  fake_.catalog.signerCertificate = {'q', 'z'};
  EXPECT_EQ(DriverSetupMain(), 0);
  Lines expected = kFreshRun;
  const auto staging = std::find(expected.begin(), expected.end(), kHeading.back());
  expected.insert(staging, "INFO: 已将驱动发布者证书添加到受信任的发布者 \n");
  EXPECT_EQ(LoggedMessages(), Gbk(expected));
  EXPECT_EQ(std::count(fake_.calls.begin(), fake_.calls.end(), "AddTrustedPublisher qz"), 1);
  EXPECT_EQ(std::count(fake_.calls.begin(), fake_.calls.end(), "SetupSetNonInteractiveMode 1"), 0)
      << "a visible desktop keeps its prompts";
}

TEST_F(RunDriverSetupTest, NoDriverFilesStillReportsEverythingAndClosesTheLog) {
  fake_.majorVersion = 6;
  fake_.minorVersion = 1;
  fake_.copyAnswer = 0;
  fake_.setupCopyAnswer = 0;
  fake_.setupCopyError = 2;
  EXPECT_EQ(DriverSetupMain(), 0);
  EXPECT_EQ(LoggedMessages(),
            Gbk(Join({kBanner,
                      {"INFO: Windows7 64Bits System \n", "FAIL: 无法打开mdmcpq.inf文件\n",
                       "FAIL: Windows\\System32\\drivers\\usbser.sys文件复制失败\n",
                       "FAIL: Windows\\SysWOW64\\drivers\\usbser.sys文件复制失败\n"},
                      kHeading,
                      {"FAIL: 驱动预安装函数运行失败：", "FAIL: 预安装失败 \n",
                       "FAIL: QZ_UsbToUartDriver 驱动预安装失败！\n"},
                      kClosing})));
}

TEST_F(RunDriverSetupTest, MissingLogsFolderDoesNothingAndExitsWithOne) {
  fs::remove(scratch_.path() / kLogFolder);
  fake_.hasPrivateNamespaces = false;
  EXPECT_EQ(DriverSetupMain(), 1);
  EXPECT_EQ(fake_.calls,
            (Lines{"PrivateNamespacesAvailable",
                   "CreateMutexA Global\\QZ_DriverSetup_Run security=default",
                   "WaitForSingleObject mutex", "GetModuleFileNameA null capacity=260",
                   "DirectoryExists C:\\QZ\\logs", "ReleaseMutex mutex", "CloseHandle mutex"}));
  EXPECT_EQ(scratch_.Files(), Lines{});
  EXPECT_FALSE(spdlog::get("driver_install_info"));
}

TEST_F(RunDriverSetupTest, UnusableProgramPathDoesNothingAndExitsWithOne) {
  fake_.modulePath = "QZ_DriverSetup.exe";
  fake_.hasPrivateNamespaces = false;
  EXPECT_EQ(DriverSetupMain(), 1);
  EXPECT_EQ(fake_.calls, (Lines{"PrivateNamespacesAvailable",
                                "CreateMutexA Global\\QZ_DriverSetup_Run security=default",
                                "WaitForSingleObject mutex", "GetModuleFileNameA null capacity=260",
                                "ReleaseMutex mutex", "CloseHandle mutex"}));
}

// Two starts take turns: the lock is waited for before anything else, and let go only once the
// log file is closed, so a waiting run's records follow this run's closing records.
struct LockCase {
  const char* name;
  std::function<void(FakePlatform&)> script;
  bool owned;
  Lines lockCallsBefore;
  Lines lockCallsAfter;
};

class RunLockTest : public RunDriverSetupTest, public ::testing::WithParamInterface<LockCase> {};

bool IsLockCall(const std::string& call) {
  static const char* const kLockCalls[] = {"PrivateNamespacesAvailable",
                                           "SecurityDescriptorFromSddl",
                                           "FreeSecurityDescriptor",
                                           "CreateBoundaryDescriptorA",
                                           "AddAdministratorsToBoundary",
                                           "DeleteBoundaryDescriptor",
                                           "CreatePrivateNamespaceA",
                                           "OpenPrivateNamespaceA",
                                           "ClosePrivateNamespace",
                                           "CreateMutexA",
                                           "OpenMutexA",
                                           "WaitForSingleObject",
                                           "ReleaseMutex",
                                           "CloseHandle"};
  for (const char* prefix : kLockCalls) {
    if (call.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

TEST_P(RunLockTest, LockSpansTheWholeRunAndLog) {
  const LockCase& c = GetParam();
  c.script(fake_);
  bool logExistedAtWait = true;
  fake_.onWait = [&] { logExistedAtWait = fs::exists(scratch_.path() / kLogFile); };
  std::string logAtRelease;
  fake_.onReleaseMutex = [&] { logAtRelease = ReadBytes(scratch_.path() / kLogFile); };

  EXPECT_EQ(DriverSetupMain(), 0);

  const Lines& calls = fake_.calls;
  ASSERT_GE(calls.size(), c.lockCallsBefore.size() + c.lockCallsAfter.size() + 1);
  EXPECT_EQ(Lines(calls.begin(), calls.begin() + static_cast<long>(c.lockCallsBefore.size())),
            c.lockCallsBefore);
  EXPECT_EQ(calls[c.lockCallsBefore.size()], "GetModuleFileNameA null capacity=260");
  EXPECT_EQ(Lines(calls.end() - static_cast<long>(c.lockCallsAfter.size()), calls.end()),
            c.lockCallsAfter);
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), IsLockCall),
            std::count_if(c.lockCallsBefore.begin(), c.lockCallsBefore.end(), IsLockCall) +
                std::count_if(c.lockCallsAfter.begin(), c.lockCallsAfter.end(), IsLockCall));
  const Lines messages = LoggedMessages();
  EXPECT_EQ(messages, Gbk(kFreshRun)) << "the lock changed what the log says";
  if (c.owned) {
    EXPECT_FALSE(logExistedAtWait) << "waited after the log was opened";
    EXPECT_EQ(LogMessages(logAtRelease), messages) << "released before the log was closed";
  }
  EXPECT_EQ(fake_.openHandles, 0) << "a handle or descriptor was left open";
}

const std::string kSddl = "D:(A;;GA;;;SY)(A;;GA;;;BA)";
const std::string kGlobalName = "Global\\QZ_DriverSetup_Run";
const std::string kPrivateName = "QZ_DriverSetup\\QZ_DriverSetup_Run";
const Lines kNamespaceStart = {"PrivateNamespacesAvailable", "SecurityDescriptorFromSddl " + kSddl,
                               "CreateBoundaryDescriptorA QZ_DriverSetup_Boundary",
                               "AddAdministratorsToBoundary boundary"};
const std::string kCreateNamespace =
    "CreatePrivateNamespaceA QZ_DriverSetup boundary=boundary security=" + kSddl;
const std::string kOpenNamespace = "OpenPrivateNamespaceA QZ_DriverSetup boundary=boundary";
const Lines kMutexInNamespace = {"DeleteBoundaryDescriptor boundary",
                                 "CreateMutexA " + kPrivateName + " security=" + kSddl,
                                 "FreeSecurityDescriptor " + kSddl, "WaitForSingleObject mutex"};
const Lines kNoMutex = {"DeleteBoundaryDescriptor boundary", "FreeSecurityDescriptor " + kSddl};
const Lines kReleaseInNamespace = {"ReleaseMutex mutex", "CloseHandle mutex",
                                   "ClosePrivateNamespace namespace"};
const Lines kGlobalMutex = {"PrivateNamespacesAvailable",
                            "CreateMutexA " + kGlobalName + " security=default"};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RunLockTest,
    ::testing::Values(
        LockCase{"NamespaceCreated", [](FakePlatform&) {}, true,
                 Join({kNamespaceStart, {kCreateNamespace}, kMutexInNamespace}),
                 kReleaseInNamespace},
        // Another run holds the namespace: it is opened, and the mutex in it waited for.
        LockCase{"NamespaceOpened",
                 [](FakePlatform& f) { f.namespaceCreateErrors = {kErrorAlreadyExists}; }, true,
                 Join({kNamespaceStart,
                       {kCreateNamespace, "GetLastError", kOpenNamespace},
                       kMutexInNamespace}),
                 kReleaseInNamespace},
        // Its last holder closed it between this run's create and open: created afresh.
        LockCase{"NamespaceVanishedInBetween",
                 [](FakePlatform& f) {
                   f.namespaceCreateErrors = {kErrorAlreadyExists};
                   f.namespaceOpenErrors = {kErrorFileNotFound};
                 },
                 true,
                 Join({kNamespaceStart,
                       {kCreateNamespace, "GetLastError", kOpenNamespace, "GetLastError",
                        kCreateNamespace},
                       kMutexInNamespace}),
                 kReleaseInNamespace},
        // A token without Administrators may not enter the boundary: no lock, nothing logged.
        LockCase{"NamespaceRefused",
                 [](FakePlatform& f) { f.namespaceCreateErrors = {kErrorAccessDenied}; },
                 false,
                 Join({kNamespaceStart, {kCreateNamespace, "GetLastError"}, kNoMutex}),
                 {}},
        LockCase{"NamespaceOpeningRefused",
                 [](FakePlatform& f) {
                   f.namespaceCreateErrors = {kErrorAlreadyExists};
                   f.namespaceOpenErrors = {kErrorAccessDenied};
                 },
                 false,
                 Join({kNamespaceStart,
                       {kCreateNamespace, "GetLastError", kOpenNamespace, "GetLastError"},
                       kNoMutex}),
                 {}},
        LockCase{"NamespaceKeepsVanishing",
                 [](FakePlatform& f) {
                   f.namespaceCreateErrors.assign(8, kErrorAlreadyExists);
                   f.namespaceOpenErrors.assign(8, kErrorPathNotFound);
                 },
                 false,
                 [] {
                   Lines calls = kNamespaceStart;
                   for (int i = 0; i < 8; ++i) {
                     calls =
                         Join({calls,
                               {kCreateNamespace, "GetLastError", kOpenNamespace, "GetLastError"}});
                   }
                   return Join({calls, kNoMutex});
                 }(),
                 {}},
        // The namespace was had but not the mutex in it: the namespace is let go at once.
        LockCase{"MutexInNamespaceCannotBeHad",
                 [](FakePlatform& f) {
                   f.mutexCreateFails = true;
                   f.mutexCreateError = 1450;
                 },
                 false,
                 Join({kNamespaceStart,
                       {kCreateNamespace, "DeleteBoundaryDescriptor boundary",
                        "CreateMutexA " + kPrivateName + " security=" + kSddl, "GetLastError",
                        "FreeSecurityDescriptor " + kSddl, "ClosePrivateNamespace namespace"}}),
                 {}},
        // Without its descriptor the namespace and the mutex get the account's default one.
        LockCase{
            "DescriptorRefused",
            [](FakePlatform& f) { f.sddlRefused = true; },
            true,
            {"PrivateNamespacesAvailable", "SecurityDescriptorFromSddl " + kSddl,
             "CreateBoundaryDescriptorA QZ_DriverSetup_Boundary",
             "AddAdministratorsToBoundary boundary",
             "CreatePrivateNamespaceA QZ_DriverSetup boundary=boundary security=default",
             "DeleteBoundaryDescriptor boundary",
             "CreateMutexA " + kPrivateName + " security=default", "WaitForSingleObject mutex"},
            kReleaseInNamespace},
        LockCase{"BoundaryFails",
                 [](FakePlatform& f) { f.boundaryFails = true; },
                 false,
                 {"PrivateNamespacesAvailable", "SecurityDescriptorFromSddl " + kSddl,
                  "CreateBoundaryDescriptorA QZ_DriverSetup_Boundary",
                  "FreeSecurityDescriptor " + kSddl},
                 {}},
        // The run that held it died: the lock is this run's now.
        LockCase{"Abandoned", [](FakePlatform& f) { f.waitAnswer = kWaitAbandoned; }, true,
                 Join({kNamespaceStart, {kCreateNamespace}, kMutexInNamespace}),
                 kReleaseInNamespace},
        LockCase{"WaitFails",
                 [](FakePlatform& f) { f.waitAnswer = kWaitFailed; },
                 false,
                 Join({kNamespaceStart, {kCreateNamespace}, kMutexInNamespace}),
                 {"CloseHandle mutex", "ClosePrivateNamespace namespace"}},
        // XP: the machine-wide name, as earlier releases of the program used.
        LockCase{"GlobalMutex",
                 [](FakePlatform& f) { f.hasPrivateNamespaces = false; },
                 true,
                 Join({kGlobalMutex, {"WaitForSingleObject mutex"}}),
                 {"ReleaseMutex mutex", "CloseHandle mutex"}},
        // Made by a run under another account whose descriptor lets others only wait on it.
        LockCase{"GlobalMutexOfAnotherAccount",
                 [](FakePlatform& f) {
                   f.hasPrivateNamespaces = false;
                   f.mutexCreateFails = true;
                   f.mutexCreateError = kErrorAccessDenied;
                 },
                 true,
                 Join({kGlobalMutex,
                       {"GetLastError", "OpenMutexA 0x100000 " + kGlobalName,
                        "WaitForSingleObject mutex"}}),
                 {"ReleaseMutex mutex", "CloseHandle mutex"}},
        LockCase{"GlobalMutexCannotBeOpened",
                 [](FakePlatform& f) {
                   f.hasPrivateNamespaces = false;
                   f.mutexCreateFails = true;
                   f.mutexCreateError = kErrorAccessDenied;
                   f.mutexOpenFails = true;
                 },
                 false,
                 Join({kGlobalMutex, {"GetLastError", "OpenMutexA 0x100000 " + kGlobalName}}),
                 {}},
        LockCase{"GlobalMutexCannotBeCreated",
                 [](FakePlatform& f) {
                   f.hasPrivateNamespaces = false;
                   f.mutexCreateFails = true;
                   f.mutexCreateError = 1450;
                 },
                 false,
                 Join({kGlobalMutex, {"GetLastError"}}),
                 {}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace

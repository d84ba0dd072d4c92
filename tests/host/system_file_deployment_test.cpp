#include "setup/system_file_deployment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <tuple>

#include "setup/install_paths.h"
#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;

// The system's files under the Windows folder the system names: "%W" stands for it.
const char kInf[] = "%W\\inf\\mdmcpq.inf";
const char kSys32[] = "%W\\System32\\drivers\\usbser.sys";
const char kWow64[] = "%W\\SysWOW64\\drivers\\usbser.sys";

std::string Under(const std::string& windows, std::string text) {
  for (std::size_t at = text.find("%W"); at != std::string::npos; at = text.find("%W", at)) {
    text.replace(at, 2, windows);
    at += windows.size();
  }
  return text;
}

Lines Under(const std::string& windows, const Lines& lines) {
  Lines placed;
  for (const auto& line : lines) placed.push_back(Under(windows, line));
  return placed;
}

// The default fake's spelling, for the tests that are not about the folder.
const std::string kCInf = Under("C:\\Windows", kInf);
const std::string kCSys32 = Under("C:\\Windows", kSys32);

// Every path a call names (the patch's own swap and backup files included) lies in the program's
// folder or in the system's Windows folder: nothing goes to a folder the program guessed.
void ExpectOnlyTheseFolders(const Lines& calls, const std::string& windows) {
  const std::regex path(R"([A-Za-z]:\\[^ ]*)");
  for (const auto& call : calls) {
    for (std::sregex_iterator it(call.begin(), call.end(), path), end; it != end; ++it) {
      const std::string named = it->str();
      EXPECT_TRUE(named.rfind("C:\\QZ\\", 0) == 0 || named.rfind(windows + "\\", 0) == 0)
          << named << " in " << call;
    }
  }
}

using Arch = NativeArchitecture;

std::string Copy(const std::string& subPath, const std::string& destination, int failIfExists) {
  return "CopyFileA C:\\QZ\\Drivers\\" + subPath + " -> " + destination +
         " fail-if-exists=" + std::to_string(failIfExists);
}

// The patch shows which file it edited by the replacement it asks for.
std::string PatchOf(const std::string& target) {
  const std::string ours = target + ".qzpatch.4242";
  return "ReplaceFileA " + target + " <- " + ours + ".tmp backup=" + ours + ".bak";
}

// The calls of the deployment itself, without the patch's own file bookkeeping, which its
// tests check, and without the question for the Windows folder, which the table counts.
Lines DeploymentCalls(const Lines& calls) {
  static const char* const kBookkeeping[] = {
      "FindFiles ",   "GetCurrentProcessId", "GetFileAttributesA ",      "SetFileAttributesA ",
      "DeleteFileA ", "MoveFileA ",          "GetSystemWindowsDirectory"};
  Lines kept;
  for (const auto& call : calls) {
    bool bookkeeping = false;
    for (const char* prefix : kBookkeeping) bookkeeping = bookkeeping || call.rfind(prefix, 0) == 0;
    if (!bookkeeping) kept.push_back(call);
  }
  return kept;
}

const std::string kInfCopied = "SUCC: mdmcpq.inf文件不存在，自动复制\n";
const std::string kInfEdited = "SUCC: mdmcpq.inf文件已存在，已编辑\n";
const std::string kSysCopied = "SUCC: usbser.sys文件不存在，自动复制\n";
const std::string kSysPresent = "Warning: usbser.sys文件已存在，无需复制\n";
const std::string kSysCopyFailed = "FAIL: usbser.sys文件复制失败\n";
const std::string kRedirectionFailed = "FAIL:关闭文件重定向失败\n";
const std::string kArm64 = "INFO: ARM64 处理器 \n";

struct DeploymentCase {
  const char* name;
  WindowsRelease release;
  NativeArchitecture architecture;
  bool copiesSucceed;
  Lines calls;
  Lines records;  // UTF-8, converted to GBK for the comparison
};

// One UTF-16LE mdmcpq.inf that the patch can edit, under each spelling of the system path.
std::string EditableInf() {
  const std::u16string text =
      u"\xFEFF[Version]\r\n[FakeModemCopyFileSection]\r\nusbser.sys,,,0x20\r\n";
  return Utf16Bytes(text);
}

const char* const kWindowsFolders[] = {"C:\\Windows", "D:\\Windows", "C:\\WINNT"};

// A system that has both files under the Windows folder it names; the scripted copies decide
// what each copy answers.
class DeploySystemFilesTest
    : public ::testing::TestWithParam<std::tuple<DeploymentCase, const char*>> {
 protected:
  void SetUp() override {
    windows_ = std::get<1>(GetParam());
    WriteBytes(scratch_.path() / Under(windows_, kInf), EditableInf());
    WriteBytes(scratch_.path() / Under(windows_, kSys32), "system's own");
  }
  ScratchFolder scratch_;
  std::string windows_;
};

TEST_P(DeploySystemFilesTest, MakesExactlyTheCallsAndRecordsOfItsRow) {
  const DeploymentCase& c = std::get<0>(GetParam());
  FakePlatform fake;
  fake.modulePath = "C:\\QZ\\QZ_DriverSetup.exe";
  fake.windowsDirectory = windows_;
  fake.copyError = c.copiesSucceed ? 0 : kErrorFileExists;
  UseFakePlatform(fake);
  InstallPaths paths;
  ASSERT_TRUE(BuildInstallPaths(paths));
  fake.calls.clear();
  RecordingLog log;

  DeploySystemFiles(c.release, c.architecture, paths);

  EXPECT_EQ(DeploymentCalls(fake.calls), Under(windows_, c.calls));
  EXPECT_EQ(log.messages(), Gbk(c.records));
  ExpectOnlyTheseFolders(fake.calls, windows_);
  // Asked once a run, and only where there is something to put in place.
  EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "GetSystemWindowsDirectory"),
            c.calls.empty() ? 0 : 1);
}

// Explicit rows: each spelled out as the platform must see it, success and failure.
INSTANTIATE_TEST_SUITE_P(
    Rows, DeploySystemFilesTest,
    ::testing::Combine(
        ::testing::Values(
            DeploymentCase{"Xp32Copies",
                           WindowsRelease::kXp,
                           Arch::kX86,
                           true,
                           {Copy("xp\\mdmcpq.inf", kInf, 1), Copy("xp\\usbser.sys", kSys32, 1)},
                           {"INFO: WindowsXP 32Bits System\n", kInfCopied, kSysCopied}},
            DeploymentCase{
                "Xp32Present",
                WindowsRelease::kXp,
                Arch::kX86,
                false,
                {Copy("xp\\mdmcpq.inf", kInf, 1), PatchOf(kInf), Copy("xp\\usbser.sys", kSys32, 1)},
                {"INFO: WindowsXP 32Bits System\n", kInfEdited, kSysPresent}},
            DeploymentCase{"Xp64Copies",
                           WindowsRelease::kXp,
                           Arch::kAmd64,
                           true,
                           {Copy("xp\\mdmcpq.inf", kInf, 1), Copy("xp\\usbser.sys", kSys32, 1)},
                           {"INFO: WindowsXP 64Bits System \n", kInfCopied, kSysCopied}},
            DeploymentCase{
                "Xp64Present",
                WindowsRelease::kXp,
                Arch::kAmd64,
                false,
                {Copy("xp\\mdmcpq.inf", kInf, 1), PatchOf(kInf), Copy("xp\\usbser.sys", kSys32, 1)},
                {"INFO: WindowsXP 64Bits System \n", kInfEdited, kSysPresent}},
            DeploymentCase{"Vista32",
                           WindowsRelease::kVista,
                           Arch::kX86,
                           false,
                           {},
                           {"INFO: WindowsVISTA 32Bits System\n"}},
            DeploymentCase{"Vista64",
                           WindowsRelease::kVista,
                           Arch::kAmd64,
                           true,
                           {},
                           {"INFO: WindowsVISTA 64Bits System \n"}},
            DeploymentCase{"Win7_32Copies",
                           WindowsRelease::kWindows7,
                           Arch::kX86,
                           true,
                           {Copy("win7_32bit\\mdmcpq.inf", kInf, 1),
                            Copy("win7_32bit\\usbser.sys", kSys32, 1)},
                           {"INFO: Windows7 32Bits System\n", kInfCopied, kSysCopied}},
            DeploymentCase{"Win7_32Present",
                           WindowsRelease::kWindows7,
                           Arch::kX86,
                           false,
                           {Copy("win7_32bit\\mdmcpq.inf", kInf, 1), PatchOf(kInf),
                            Copy("win7_32bit\\usbser.sys", kSys32, 1)},
                           {"INFO: Windows7 32Bits System\n", kInfEdited, kSysPresent}},
            DeploymentCase{
                "Win7_64Copies",
                WindowsRelease::kWindows7,
                Arch::kAmd64,
                true,
                {Copy("win7_64bit\\32bits\\mdmcpq.inf", kInf, 1), "Wow64EnableWow64FsRedirection 0",
                 Copy("win7_64bit\\64bits\\usbser.sys", kSys32, 0),
                 Copy("win7_64bit\\64bits\\usbser.sys", kWow64, 0),
                 "Wow64EnableWow64FsRedirection 1"},
                {"INFO: Windows7 64Bits System \n", kInfCopied,
                 "SUCC: Windows\\System32\\drivers\\usbser.sys文件复制成功\n",
                 "SUCC: Windows\\SysWOW64\\drivers\\usbser.sys文件复制成功\n"}},
            DeploymentCase{"Win7_64CopiesFail",
                           WindowsRelease::kWindows7,
                           Arch::kIa64,
                           false,
                           {Copy("win7_64bit\\32bits\\mdmcpq.inf", kInf, 1), PatchOf(kInf),
                            "Wow64EnableWow64FsRedirection 0",
                            Copy("win7_64bit\\64bits\\usbser.sys", kSys32, 0),
                            Copy("win7_64bit\\64bits\\usbser.sys", kWow64, 0),
                            "Wow64EnableWow64FsRedirection 1"},
                           {"INFO: Windows7 64Bits System \n", kInfEdited,
                            "FAIL: Windows\\System32\\drivers\\usbser.sys文件复制失败\n",
                            "FAIL: Windows\\SysWOW64\\drivers\\usbser.sys文件复制失败\n"}},
            DeploymentCase{"Win8_32Copies",
                           WindowsRelease::kWindows8,
                           Arch::kX86,
                           true,
                           {Copy("win8_64bit\\mdmcpq.inf", kInf, 1),
                            Copy("win8_64bit\\usbser.sys", kSys32, 1)},
                           {"INFO: Windows8 32Bits System\n", kInfCopied, kSysCopied}},
            DeploymentCase{"Win8_32Present",
                           WindowsRelease::kWindows8,
                           Arch::kX86,
                           false,
                           {Copy("win8_64bit\\mdmcpq.inf", kInf, 1), PatchOf(kInf),
                            Copy("win8_64bit\\usbser.sys", kSys32, 1)},
                           {"INFO: Windows8 32Bits System\n", kInfEdited, kSysPresent}},
            DeploymentCase{
                "Win8_64Copies",
                WindowsRelease::kWindows8,
                Arch::kAmd64,
                true,
                {Copy("win8_64bit\\mdmcpq.inf", kInf, 1), "Wow64EnableWow64FsRedirection 0",
                 Copy("win8_64bit\\usbser.sys", kSys32, 1), "Wow64EnableWow64FsRedirection 1"},
                {"INFO: Windows8 64Bits System \n", kInfCopied, kSysCopied}},
            DeploymentCase{
                "Win8_64Present",
                WindowsRelease::kWindows8,
                Arch::kAmd64,
                false,
                {Copy("win8_64bit\\mdmcpq.inf", kInf, 1), PatchOf(kInf),
                 "Wow64EnableWow64FsRedirection 0", Copy("win8_64bit\\usbser.sys", kSys32, 1),
                 "Wow64EnableWow64FsRedirection 1"},
                {"INFO: Windows8 64Bits System \n", kInfEdited, kSysPresent}},
            DeploymentCase{"Win81_32Copies",
                           WindowsRelease::kWindows81,
                           Arch::kX86,
                           true,
                           {Copy("win8_64bit\\mdmcpq.inf", kInf, 1),
                            Copy("win8_64bit\\usbser.sys", kSys32, 1)},
                           {"INFO: Windows8.1 32Bits System\n", kInfCopied, kSysCopied}},
            DeploymentCase{"Win81_32Present",
                           WindowsRelease::kWindows81,
                           Arch::kX86,
                           false,
                           {Copy("win8_64bit\\mdmcpq.inf", kInf, 1), PatchOf(kInf),
                            Copy("win8_64bit\\usbser.sys", kSys32, 1)},
                           {"INFO: Windows8.1 32Bits System\n", kInfEdited, kSysPresent}},
            DeploymentCase{
                "Win81_64Copies",
                WindowsRelease::kWindows81,
                Arch::kAmd64,
                true,
                {Copy("win8_64bit\\mdmcpq.inf", kInf, 1), "Wow64EnableWow64FsRedirection 0",
                 Copy("win8_64bit\\usbser.sys", kSys32, 1), "Wow64EnableWow64FsRedirection 1"},
                {"INFO: Windows8.1 64Bits System \n", kInfCopied, kSysCopied}},
            DeploymentCase{
                "Win81_64Present",
                WindowsRelease::kWindows81,
                Arch::kAmd64,
                false,
                {Copy("win8_64bit\\mdmcpq.inf", kInf, 1), PatchOf(kInf),
                 "Wow64EnableWow64FsRedirection 0", Copy("win8_64bit\\usbser.sys", kSys32, 1),
                 "Wow64EnableWow64FsRedirection 1"},
                {"INFO: Windows8.1 64Bits System \n", kInfEdited, kSysPresent}},
            DeploymentCase{
                "Win10_32Copies",
                WindowsRelease::kWindows10,
                Arch::kX86,
                true,
                {Copy("win10\\mdmcpq.inf", kInf, 1), Copy("win10\\usbser.sys", kSys32, 1)},
                {"INFO: Windows10 32Bits System\n", kInfCopied, kSysCopied}},
            DeploymentCase{"Win10_32Present",
                           WindowsRelease::kWindows10,
                           Arch::kX86,
                           false,
                           {Copy("win10\\mdmcpq.inf", kInf, 1), PatchOf(kInf),
                            Copy("win10\\usbser.sys", kSys32, 1)},
                           {"INFO: Windows10 32Bits System\n", kInfEdited, kSysPresent}},
            DeploymentCase{
                "Win10_64CopiesWithRedirectionOn",
                WindowsRelease::kWindows10,
                Arch::kAmd64,
                true,
                {Copy("win10\\mdmcpq.inf", kInf, 1), Copy("win10\\usbser.sys", kSys32, 1)},
                {"INFO: Windows10 64Bits System \n", kInfCopied, kSysCopied}},
            DeploymentCase{"Win10_64Present",
                           WindowsRelease::kWindows10,
                           Arch::kAmd64,
                           false,
                           {Copy("win10\\mdmcpq.inf", kInf, 1), PatchOf(kInf),
                            Copy("win10\\usbser.sys", kSys32, 1)},
                           {"INFO: Windows10 64Bits System \n", kInfEdited, kSysPresent}},
            // ARM64 Windows gets the 64-bit Windows 10 step, its processor named after the release.
            DeploymentCase{
                "Win10_Arm64Copies",
                WindowsRelease::kWindows10,
                Arch::kArm64,
                true,
                {Copy("win10\\mdmcpq.inf", kInf, 1), Copy("win10\\usbser.sys", kSys32, 1)},
                {"INFO: Windows10 64Bits System \n", kArm64, kInfCopied, kSysCopied}},
            DeploymentCase{"Win10_Arm64Present",
                           WindowsRelease::kWindows10,
                           Arch::kArm64,
                           false,
                           {Copy("win10\\mdmcpq.inf", kInf, 1), PatchOf(kInf),
                            Copy("win10\\usbser.sys", kSys32, 1)},
                           {"INFO: Windows10 64Bits System \n", kArm64, kInfEdited, kSysPresent}},
            DeploymentCase{"UnknownReleaseOnArm64",
                           WindowsRelease::kUnknown,
                           Arch::kArm64,
                           true,
                           {},
                           {"Warning: before winxp or windows server \n", kArm64}},
            DeploymentCase{"Release6AsksNothing",
                           WindowsRelease::kUnknown,
                           Arch::kAmd64,
                           true,
                           {},
                           {"Warning: before winxp or windows server \n"}}),
        ::testing::ValuesIn(kWindowsFolders)),
    [](const auto& row) {
      std::string folder = std::get<1>(row.param);
      folder.erase(
          std::remove_if(folder.begin(), folder.end(),
                         [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }),
          folder.end());
      return std::string(std::get<0>(row.param).name) + "_" + folder;
    });

struct RefusalCase {
  WindowsRelease release;
  std::string infSubPath;
  Lines records;
};

class RedirectionRefusedTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RedirectionRefusedTest, SkipsTheDriverCopiesAndNeverSwitchesBack) {
  const RefusalCase& c = GetParam();
  FakePlatform fake;
  fake.modulePath = "C:\\QZ\\QZ_DriverSetup.exe";
  fake.redirectionOffError = kErrorAccessDenied;
  UseFakePlatform(fake);
  InstallPaths paths;
  ASSERT_TRUE(BuildInstallPaths(paths));
  fake.calls.clear();
  RecordingLog log;

  DeploySystemFiles(c.release, Arch::kAmd64, paths);

  EXPECT_EQ(DeploymentCalls(fake.calls),
            (Lines{Copy(c.infSubPath, kCInf, 1), "Wow64EnableWow64FsRedirection 0"}));
  EXPECT_EQ(log.messages(), Gbk(c.records));
}

INSTANTIATE_TEST_SUITE_P(
    SwitchingRows, RedirectionRefusedTest,
    ::testing::Values(
        RefusalCase{WindowsRelease::kWindows7,
                    "win7_64bit\\32bits\\mdmcpq.inf",
                    {"INFO: Windows7 64Bits System \n", kInfCopied, kRedirectionFailed}},
        RefusalCase{WindowsRelease::kWindows8,
                    "win8_64bit\\mdmcpq.inf",
                    {"INFO: Windows8 64Bits System \n", kInfCopied, "FAIL:关闭文件重定向失败\n\n"}},
        RefusalCase{WindowsRelease::kWindows81,
                    "win8_64bit\\mdmcpq.inf",
                    {"INFO: Windows8.1 64Bits System \n", kInfCopied, kRedirectionFailed}}));

// Windows cannot name its folder: every step fails as a copy that cannot be made, in the usual
// records, and nothing is copied, patched or looked for anywhere.
struct NoFolderCase {
  const char* name;
  WindowsRelease release;
  NativeArchitecture architecture;
  Lines records;
};

class NoWindowsFolderTest : public ::testing::TestWithParam<NoFolderCase> {};

TEST_P(NoWindowsFolderTest, FailsEachStepAndWritesNowhere) {
  const NoFolderCase& c = GetParam();
  ScratchFolder scratch;
  WriteBytes(scratch.path() / kCInf, EditableInf());
  FakePlatform fake;
  fake.modulePath = "C:\\QZ\\QZ_DriverSetup.exe";
  fake.windowsDirectoryError = kErrorAccessDenied;
  UseFakePlatform(fake);
  InstallPaths paths;
  ASSERT_TRUE(BuildInstallPaths(paths));
  fake.calls.clear();
  RecordingLog log;

  DeploySystemFiles(c.release, c.architecture, paths);

  EXPECT_EQ(log.messages(), Gbk(c.records));
  for (const auto& call : fake.calls) {
    EXPECT_EQ(call.find(":\\Windows"), std::string::npos) << call;
    EXPECT_EQ(call.rfind("CopyFileA", 0), std::string::npos) << call;
  }
  EXPECT_EQ(ReadBytes(scratch.path() / kCInf), EditableInf());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NoWindowsFolderTest,
    ::testing::Values(NoFolderCase{"Xp32",
                                   WindowsRelease::kXp,
                                   Arch::kX86,
                                   {"INFO: WindowsXP 32Bits System\n",
                                    "FAIL: 无法打开mdmcpq.inf文件\n", kSysCopyFailed}},
                      NoFolderCase{
                          "Win7_64",
                          WindowsRelease::kWindows7,
                          Arch::kAmd64,
                          {"INFO: Windows7 64Bits System \n", "FAIL: 无法打开mdmcpq.inf文件\n",
                           "FAIL: Windows\\System32\\drivers\\usbser.sys文件复制失败\n",
                           "FAIL: Windows\\SysWOW64\\drivers\\usbser.sys文件复制失败\n"}},
                      NoFolderCase{"Win81_64",
                                   WindowsRelease::kWindows81,
                                   Arch::kAmd64,
                                   {"INFO: Windows8.1 64Bits System \n",
                                    "FAIL: 无法打开mdmcpq.inf文件\n", kSysCopyFailed}},
                      NoFolderCase{"Win10_64",
                                   WindowsRelease::kWindows10,
                                   Arch::kAmd64,
                                   {"INFO: Windows10 64Bits System \n",
                                    "FAIL: 无法打开mdmcpq.inf文件\n", kSysCopyFailed}}),
    [](const auto& row) { return std::string(row.param.name); });

// A package folder too long for some sub-paths: those copies are never asked for with a
// cut-off source; they count as failed.
TEST(DeploySystemFilesLongFolderTest, SourcesThatDoNotFitCountAsFailedCopies) {
  ScratchFolder scratch;
  const std::string folder = "C:\\" + std::string(220, 'q');  // 223 characters
  FakePlatform fake;
  fake.modulePath = folder + "\\QZ_DriverSetup.exe";
  UseFakePlatform(fake);
  InstallPaths paths;
  ASSERT_TRUE(BuildInstallPaths(paths));
  fake.calls.clear();
  RecordingLog log;

  DeploySystemFiles(WindowsRelease::kWindows7, Arch::kAmd64, paths);

  EXPECT_EQ(DeploymentCalls(fake.calls),
            (Lines{"Wow64EnableWow64FsRedirection 0", "Wow64EnableWow64FsRedirection 1"}));
  EXPECT_EQ(log.messages(),
            Gbk(Lines{"INFO: Windows7 64Bits System \n", "FAIL: 无法打开mdmcpq.inf文件\n",
                      "FAIL: Windows\\System32\\drivers\\usbser.sys文件复制失败\n",
                      "FAIL: Windows\\SysWOW64\\drivers\\usbser.sys文件复制失败\n"}));

  // Shorter sub-paths still fit the same folder.
  fake.calls.clear();
  ASSERT_TRUE(BuildInstallPaths(paths));
  fake.calls.clear();
  DeploySystemFiles(WindowsRelease::kXp, Arch::kX86, paths);
  EXPECT_EQ(DeploymentCalls(fake.calls)[0],
            "CopyFileA " + folder + "\\Drivers\\xp\\mdmcpq.inf -> " + kCInf + " fail-if-exists=1");
}

// A failed fail-if-exists copy is "already there" only when the destination is there, looked
// at right away under the copy's own redirection.
struct FailedCopyCase {
  const char* name;
  WindowsRelease release;
  bool destinationExists;
  Lines driverCalls;
  std::string record;
};

class FailedDriverCopyTest : public ::testing::TestWithParam<FailedCopyCase> {};

TEST_P(FailedDriverCopyTest, SaysPresentOnlyWhenTheDestinationIsThere) {
  const FailedCopyCase& c = GetParam();
  ScratchFolder scratch;
  WriteBytes(scratch.path() / kCInf, EditableInf());
  if (c.destinationExists) WriteBytes(scratch.path() / kCSys32, "system's own");
  FakePlatform fake;
  fake.modulePath = "C:\\QZ\\QZ_DriverSetup.exe";
  fake.copyError = kErrorFileExists;
  UseFakePlatform(fake);
  InstallPaths paths;
  ASSERT_TRUE(BuildInstallPaths(paths));
  RecordingLog log;

  DeploySystemFiles(c.release, Arch::kAmd64, paths);

  const auto copy = std::find_if(fake.calls.begin(), fake.calls.end(), [](const std::string& call) {
    return call.find("usbser.sys -> ") != std::string::npos;
  });
  ASSERT_NE(copy, fake.calls.end());
  EXPECT_EQ(Lines(copy, fake.calls.end()), c.driverCalls);
  EXPECT_EQ(log.messages().back(), Gbk(c.record));
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, FailedDriverCopyTest,
    ::testing::Values(
        FailedCopyCase{"Win10_64Missing",
                       WindowsRelease::kWindows10,
                       false,
                       {Copy("win10\\usbser.sys", kCSys32, 1), "GetFileAttributesA " + kCSys32},
                       kSysCopyFailed},
        FailedCopyCase{"Win10_64Present",
                       WindowsRelease::kWindows10,
                       true,
                       {Copy("win10\\usbser.sys", kCSys32, 1), "GetFileAttributesA " + kCSys32},
                       kSysPresent},
        FailedCopyCase{"Win81_64MissingLooksWithRedirectionOff",
                       WindowsRelease::kWindows81,
                       false,
                       {Copy("win8_64bit\\usbser.sys", kCSys32, 1), "GetFileAttributesA " + kCSys32,
                        "Wow64EnableWow64FsRedirection 1"},
                       kSysCopyFailed},
        FailedCopyCase{"Win81_64PresentLooksWithRedirectionOff",
                       WindowsRelease::kWindows81,
                       true,
                       {Copy("win8_64bit\\usbser.sys", kCSys32, 1), "GetFileAttributesA " + kCSys32,
                        "Wow64EnableWow64FsRedirection 1"},
                       kSysPresent}),
    [](const auto& row) { return std::string(row.param.name); });

// A run killed between ReplaceFile's move-aside and move-in left the system's file missing and
// its original under a backup name: the original goes back before the package's copy, and is
// then edited like any existing file.
TEST(DeploySystemFilesInterruptedEditTest, OriginalGoesBackBeforeThePackageCopy) {
  ScratchFolder scratch;
  const std::string older = kCInf + ".qzpatch.77.bak";
  const std::string newer = kCInf + ".qzpatch.88.bak";
  const std::string original = EditableInf() + "original";
  WriteBytes(scratch.path() / older, EditableInf() + "older");
  WriteBytes(scratch.path() / newer, original);
  WriteBytes(scratch.path() / (kCInf + ".qzpatch.88.tmp"), "half written");
  const auto now = std::filesystem::file_time_type::clock::now();
  std::filesystem::last_write_time(scratch.path() / older, now - std::chrono::hours(2));
  std::filesystem::last_write_time(scratch.path() / newer, now - std::chrono::hours(1));
  WriteBytes(scratch.path() / "C:\\QZ\\Drivers\\win10\\mdmcpq.inf", "package's copy");
  FakePlatform fake;
  fake.modulePath = "C:\\QZ\\QZ_DriverSetup.exe";
  fake.copyModelsFiles = true;
  UseFakePlatform(fake);
  InstallPaths paths;
  ASSERT_TRUE(BuildInstallPaths(paths));
  RecordingLog log;

  DeploySystemFiles(WindowsRelease::kWindows10, Arch::kAmd64, paths);

  const auto at = [&](const std::string& call) {
    return std::find(fake.calls.begin(), fake.calls.end(), call) - fake.calls.begin();
  };
  EXPECT_LT(at("MoveFileA " + newer + " -> " + kCInf), at(Copy("win10\\mdmcpq.inf", kCInf, 1)));
  const std::u16string editedText =
      u"\xFEFF[Version]\r\n[FakeModemCopyFileSection]\r\n;usbser.sys,,,0x20\r\n";
  const std::string edited = Utf16Bytes(editedText) + "original";
  EXPECT_EQ(ReadBytes(scratch.path() / kCInf), edited);
  EXPECT_EQ(log.messages()[1], Gbk(kInfEdited));
  for (const auto& name : scratch.Files()) {
    EXPECT_EQ(name.find(".qzpatch."), std::string::npos) << name << " was left";
  }
}

}  // namespace

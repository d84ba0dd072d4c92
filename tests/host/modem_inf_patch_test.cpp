#include "setup/modem_inf_patch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tests/host/test_support.h"

// Linked with --wrap for fread, fopen and malloc: lets a test make the next read come up one
// byte short, refuse to open a file for writing as Windows does for a file the administrator
// may not write (TrustedInstaller's mdmcpq.inf), or run out of memory for one size.
extern "C" std::size_t __real_fread(void* buffer, std::size_t size, std::size_t count,
                                    std::FILE* stream);
extern "C" std::FILE* __real_fopen(const char* path, const char* mode);
extern "C" void* __real_malloc(std::size_t size);
namespace {
bool g_shortenNextRead = false;
std::string g_refuseUpdatesOf;
std::size_t g_failAllocationOf = 0;
}  // namespace
extern "C" std::size_t __wrap_fread(void* buffer, std::size_t size, std::size_t count,
                                    std::FILE* stream) {
  if (g_shortenNextRead && count > 0) {
    g_shortenNextRead = false;
    return __real_fread(buffer, size, count - 1, stream);
  }
  return __real_fread(buffer, size, count, stream);
}
extern "C" std::FILE* __wrap_fopen(const char* path, const char* mode) {
  if (!g_refuseUpdatesOf.empty() && g_refuseUpdatesOf == path &&
      std::strpbrk(mode, "wa+") != nullptr) {
    errno = EACCES;
    return nullptr;
  }
  return __real_fopen(path, mode);
}
extern "C" void* __wrap_malloc(std::size_t size) {
  if (g_failAllocationOf != 0 && size == g_failAllocationOf) {
    return nullptr;
  }
  return __real_malloc(size);
}

namespace {

using Lines = std::vector<std::string>;

const std::string kEdited = "SUCC: mdmcpq.inf文件已存在，已编辑\n";
const std::string kNoEdit = "Warning: mdmcpq.inf文件已存在，并可用，无需编辑\n";
const std::string kWriteFailed = "FAIL: mdmcpq.inf 写入失败: file write error!!!\n";
const std::string kReadLength = "FAIL: mdmcpq.inf 读取失败: file read len error!!!\n";
const std::string kOpenFailed = "FAIL: 无法打开mdmcpq.inf文件\n";

const std::string kSection = Utf16Bytes(u"[FakeModemCopyFileSection]\r\n");

struct Call {
  std::string record;  // UTF-8
  std::string after;   // the file's bytes after the call
};

struct PatchCase {
  const char* name;
  std::string before;
  std::vector<Call> calls;
};

class PatchModemInfTest : public ::testing::TestWithParam<PatchCase> {
 protected:
  ScratchFolder scratch_;
  FakePlatform fake_;
};

TEST_P(PatchModemInfTest, EditsTheFirstMatchOnlyAndKeepsEveryOtherByte) {
  const PatchCase& c = GetParam();
  UseFakePlatform(fake_);
  const auto file = scratch_.path() / "mdmcpq.inf";
  WriteBytes(file, c.before);
  for (std::size_t i = 0; i < c.calls.size(); ++i) {
    RecordingLog log;
    EXPECT_EQ(PatchModemInf(file.c_str()), 0);
    EXPECT_EQ(log.messages(), Lines{Gbk(c.calls[i].record)}) << "call " << i;
    EXPECT_EQ(ReadBytes(file), c.calls[i].after) << "call " << i;
    EXPECT_EQ(scratch_.Files(), Lines{"mdmcpq.inf"});
  }
}

const std::string kOneSection = Utf16Bytes(
    u"\xFEFF[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[FakeModemCopyFileSection]\r\n"
    u"usbser.sys,,,0x20\r\n\r\n[Other]\r\nx=1\r\n");
const std::string kOneSectionEdited = Utf16Bytes(
    u"\xFEFF[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[FakeModemCopyFileSection]\r\n"
    u";usbser.sys,,,0x20\r\n\r\n[Other]\r\nx=1\r\n");

const std::string kTwo = Utf16Bytes(
    u"[FakeModemCopyFileSection]\r\nusbser.sys\r\n[FakeModemCopyFileSection]\r\nusbser.sys\r\n");
const std::string kTwoFirst = Utf16Bytes(
    u"[FakeModemCopyFileSection]\r\n;usbser.sys\r\n[FakeModemCopyFileSection]\r\nusbser.sys\r\n");
const std::string kTwoBoth = Utf16Bytes(
    u"[FakeModemCopyFileSection]\r\n;usbser.sys\r\n[FakeModemCopyFileSection]\r\n;usbser.sys\r\n");

INSTANTIATE_TEST_SUITE_P(
    Files, PatchModemInfTest,
    ::testing::Values(
        PatchCase{"OneSectionEditedOnceThenLeftAlone",
                  kOneSection,
                  {{kEdited, kOneSectionEdited}, {kNoEdit, kOneSectionEdited}}},
        PatchCase{"TwoSectionsOnePerCall",
                  kTwo,
                  {{kEdited, kTwoFirst}, {kEdited, kTwoBoth}, {kNoEdit, kTwoBoth}}},
        PatchCase{"SectionNameInLowerCase",
                  Utf16Bytes(u"[fakemodemcopyfilesection]\r\nusbser.sys\r\n"),
                  {{kNoEdit, Utf16Bytes(u"[fakemodemcopyfilesection]\r\nusbser.sys\r\n")}}},
        PatchCase{"FileNameInUpperCase",
                  kSection + Utf16Bytes(u"USBSER.SYS\r\n"),
                  {{kNoEdit, kSection + Utf16Bytes(u"USBSER.SYS\r\n")}}},
        PatchCase{"BlankBeforeLineEnd",
                  Utf16Bytes(u"[FakeModemCopyFileSection] \r\nusbser.sys\r\n"),
                  {{kNoEdit, Utf16Bytes(u"[FakeModemCopyFileSection] \r\nusbser.sys\r\n")}}},
        PatchCase{"SingleByteEncoding",
                  "[FakeModemCopyFileSection]\r\nusbser.sys\r\n",
                  {{kNoEdit, "[FakeModemCopyFileSection]\r\nusbser.sys\r\n"}}},
        PatchCase{"AlreadyCommented",
                  kSection + Utf16Bytes(u";usbser.sys\r\n"),
                  {{kNoEdit, kSection + Utf16Bytes(u";usbser.sys\r\n")}}},
        PatchCase{"LineBetweenHeaderAndFileName",
                  kSection + Utf16Bytes(u"\r\nusbser.sys\r\n"),
                  {{kNoEdit, kSection + Utf16Bytes(u"\r\nusbser.sys\r\n")}}},
        PatchCase{"EmptyFile", "", {{kNoEdit, ""}}},
        PatchCase{"OneByteShortOfAMatch",
                  (kSection + Utf16Bytes(u"usbser.sys")).substr(0, 75),
                  {{kNoEdit, (kSection + Utf16Bytes(u"usbser.sys")).substr(0, 75)}}},
        PatchCase{"MatchAtOddOffset",
                  "X" + kSection + Utf16Bytes(u"usbser.sys\r\n"),
                  {{kEdited, "X" + kSection + Utf16Bytes(u";usbser.sys\r\n")}}},
        PatchCase{"MatchEndsTheFile",
                  Utf16Bytes(u"\xFEFF") + kSection + Utf16Bytes(u"usbser.sys"),
                  {{kEdited, Utf16Bytes(u"\xFEFF") + kSection + Utf16Bytes(u";usbser.sys")}}}),
    [](const auto& row) { return std::string(row.param.name); });

class PatchModemInfFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseFakePlatform(fake_);
    WriteBytes(file_, kOneSection);
  }
  // Whatever failed, the system's file is as it was and nothing is left beside it.
  void ExpectUntouched() {
    EXPECT_EQ(ReadBytes(file_), kOneSection);
    EXPECT_EQ(scratch_.Files(), Lines{"mdmcpq.inf"});
  }
  ScratchFolder scratch_;
  FakePlatform fake_;
  std::filesystem::path file_ = scratch_.path() / "mdmcpq.inf";
};

TEST_F(PatchModemInfFailureTest, WriteFailureLeavesTheOriginal) {
  RecordingLog log;
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = kOneSection.size();  // the edited content is two bytes more
  setrlimit(RLIMIT_FSIZE, &small);
  PatchModemInf(file_.c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(log.messages(), Lines{Gbk(kWriteFailed)});
  EXPECT_FALSE(AnyCallStartsWith(fake_.calls, "ReplaceFileA"))
      << "nothing may be put in place after a failed write";
  ExpectUntouched();
}

// The common case on Vista and later: the file belongs to TrustedInstaller and an
// administrator cannot open it for writing.
TEST_F(PatchModemInfFailureTest, FileThatCannotBeOpenedForWritingIsOnlyReported) {
  RecordingLog log;
  g_refuseUpdatesOf = file_.string();
  PatchModemInf(file_.c_str());
  g_refuseUpdatesOf.clear();
  EXPECT_EQ(log.messages(), Lines{Gbk(kOpenFailed)});
  EXPECT_EQ(fake_.calls, Lines{});
  ExpectUntouched();
}

TEST_F(PatchModemInfFailureTest, NoMemoryForTheWorkingCopyIsReported) {
  RecordingLog log;
  g_failAllocationOf = kOneSection.size() + 2;
  PatchModemInf(file_.c_str());
  g_failAllocationOf = 0;
  EXPECT_EQ(log.messages(), Lines{Gbk("FAIL: mdmcpq.inf 读取失败: file buf malloc fail!!!\n")});
  EXPECT_FALSE(AnyCallStartsWith(fake_.calls, "ReplaceFileA"));
  ExpectUntouched();
}

TEST_F(PatchModemInfFailureTest, ShortReadEndsTheCall) {
  RecordingLog log;
  g_shortenNextRead = true;
  PatchModemInf(file_.c_str());
  g_shortenNextRead = false;
  EXPECT_EQ(log.messages(), Lines{Gbk(kReadLength)});
  EXPECT_FALSE(AnyCallStartsWith(fake_.calls, "ReplaceFileA"));
  ExpectUntouched();
}

TEST_F(PatchModemInfFailureTest, SizeThatCannotBeToldEndsTheCall) {
  const auto fifo = scratch_.path() / "fifo.inf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  RecordingLog log;
  PatchModemInf(fifo.c_str());  // a pipe cannot seek
  EXPECT_EQ(log.messages(), Lines{Gbk(kReadLength)});
  EXPECT_EQ(scratch_.Files(), (Lines{"fifo.inf", "mdmcpq.inf"}));
}

TEST_F(PatchModemInfFailureTest, MissingFileIsReportedAndNotCreated) {
  RecordingLog log;
  PatchModemInf((scratch_.path() / "absent.inf").c_str());
  EXPECT_EQ(log.messages(), Lines{Gbk(kOpenFailed)});
  ExpectUntouched();
}

TEST_F(PatchModemInfFailureTest, ReadOnlyFileStaysAsItWas) {
  fake_.attributes[file_.string()] = kFileAttributeReadOnly | kFileAttributeArchive;
  RecordingLog log;
  PatchModemInf(file_.c_str());
  EXPECT_EQ(log.messages(), Lines{Gbk(kWriteFailed)});
  EXPECT_FALSE(AnyCallStartsWith(fake_.calls, "SetFileAttributesA"));
  EXPECT_EQ(fake_.attributes[file_.string()], kFileAttributeReadOnly | kFileAttributeArchive);
  ExpectUntouched();
}

TEST_F(PatchModemInfFailureTest, FilesLeftByADeadRunAreRemoved) {
  const Lines stale = {"mdmcpq.inf.qzpatch.17.bak", "mdmcpq.inf.qzpatch.17.tmp",
                       "mdmcpq.inf.qzpatch.tmp"};
  for (const auto& name : stale) WriteBytes(scratch_.path() / name, "partial");
  WriteBytes(scratch_.path() / "mdmcpq.inf.bak", "not ours");
  const std::string edited = kOneSectionEdited;
  WriteBytes(file_, edited);  // already edited: this run only looks
  RecordingLog log;
  PatchModemInf(file_.c_str());
  EXPECT_EQ(log.messages(), Lines{Gbk(kNoEdit)});
  EXPECT_EQ(scratch_.Files(), (Lines{"mdmcpq.inf", "mdmcpq.inf.bak"}));
  EXPECT_EQ(ReadBytes(file_), edited);
}

// Every answer of ReplaceFileA, with the files it leaves: the system's file must end up at its
// path, whole, with its attribute bits, the record must say which bytes it holds, and nothing of
// this run's may be left beside it.
struct ReplaceCase {
  const char* name;
  FakePlatform::ReplaceEffect effect;
  std::uint32_t error;
  bool editedInPlace;
};

class PatchModemInfReplaceTest : public PatchModemInfFailureTest,
                                 public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(PatchModemInfReplaceTest, SystemFileIsNeverLost) {
  const ReplaceCase& c = GetParam();
  const std::uint32_t hiddenSystem =
      kFileAttributeHidden | kFileAttributeSystem | kFileAttributeArchive;
  fake_.attributes[file_.string()] = hiddenSystem;
  fake_.replaceEffect = c.effect;
  fake_.replaceError = c.error;
  RecordingLog log;
  PatchModemInf(file_.c_str());

  EXPECT_EQ(log.messages(), Lines{Gbk(c.editedInPlace ? kEdited : kWriteFailed)});
  EXPECT_EQ(ReadBytes(file_), c.editedInPlace ? kOneSectionEdited : kOneSection);
  EXPECT_EQ(fake_.attributes[file_.string()], hiddenSystem);
  EXPECT_EQ(scratch_.Files(), Lines{"mdmcpq.inf"});
  const std::string ours = file_.string() + ".qzpatch.4242";
  EXPECT_TRUE(AnyCallStartsWith(fake_.calls, "ReplaceFileA " + file_.string() + " <- " + ours +
                                                 ".tmp backup=" + ours + ".bak"));
}

using Effect = FakePlatform::ReplaceEffect;
INSTANTIATE_TEST_SUITE_P(
    Answers, PatchModemInfReplaceTest,
    ::testing::Values(ReplaceCase{"Replaced", Effect::kReplaces, 0, true},
                      ReplaceCase{"RefusedOriginalUntouched", Effect::kLeavesBoth, 5, false},
                      // ERROR_UNABLE_TO_REMOVE_REPLACED: both keep their names.
                      ReplaceCase{"UnableToRemoveReplaced", Effect::kLeavesBoth, 1175, false},
                      // ERROR_UNABLE_TO_MOVE_REPLACEMENT: only the new content is left.
                      ReplaceCase{"OnlyReplacementLeft", Effect::kRemovesReplaced, 1176, true},
                      // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the original is under the backup name.
                      ReplaceCase{"OriginalUnderBackupName", Effect::kMovesReplacedToBackup, 1177,
                                  false},
                      ReplaceCase{"OtherError", Effect::kLeavesBoth, 87, false}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(FindModemPatchOffsetTest, NearMatchesAtEveryAlignmentAreSkipped) {
  const std::string pattern = kSection + Utf16Bytes(u"usbser.sys");
  std::string near = pattern;
  near[near.size() - 2] = 'x';  // "usbser.syx"
  const std::string data = near + "A" + near + near + "BC" + pattern + near;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  EXPECT_EQ(FindModemPatchOffset(bytes, data.size()), 3 * near.size() + 3);
  EXPECT_EQ(FindModemPatchOffset(bytes, 3 * near.size() + 3), 3 * near.size() + 3);
}

}  // namespace

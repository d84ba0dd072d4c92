#include "setup/modem_inf_patch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>

#include "tests/host/test_support.h"

// Linked with --wrap=fread: lets a test make the next read come up one byte short.
extern "C" std::size_t __real_fread(void* buffer, std::size_t size, std::size_t count,
                                    std::FILE* stream);
namespace {
bool g_shortenNextRead = false;
}
extern "C" std::size_t __wrap_fread(void* buffer, std::size_t size, std::size_t count,
                                    std::FILE* stream) {
  if (g_shortenNextRead && count > 0) {
    g_shortenNextRead = false;
    return __real_fread(buffer, size, count - 1, stream);
  }
  return __real_fread(buffer, size, count, stream);
}

namespace {

using Lines = std::vector<std::string>;

std::string U16(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

const std::string kEdited = "SUCC: mdmcpq.inf文件已存在，已编辑\n";
const std::string kNoEdit = "Warning: mdmcpq.inf文件已存在，并可用，无需编辑\n";
const std::string kWriteFailed = "FAIL: mdmcpq.inf 写入失败: file write error!!!\n";
const std::string kReadLength = "FAIL: mdmcpq.inf 读取失败: file read len error!!!\n";

const std::string kSection = U16(u"[FakeModemCopyFileSection]\r\n");

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

const std::string kOneSection =
    U16(u"\xFEFF[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[FakeModemCopyFileSection]\r\n"
        u"usbser.sys,,,0x20\r\n\r\n[Other]\r\nx=1\r\n");
const std::string kOneSectionEdited =
    U16(u"\xFEFF[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[FakeModemCopyFileSection]\r\n"
        u";usbser.sys,,,0x20\r\n\r\n[Other]\r\nx=1\r\n");

const std::string kTwo = U16(
    u"[FakeModemCopyFileSection]\r\nusbser.sys\r\n[FakeModemCopyFileSection]\r\nusbser.sys\r\n");
const std::string kTwoFirst = U16(
    u"[FakeModemCopyFileSection]\r\n;usbser.sys\r\n[FakeModemCopyFileSection]\r\nusbser.sys\r\n");
const std::string kTwoBoth = U16(
    u"[FakeModemCopyFileSection]\r\n;usbser.sys\r\n[FakeModemCopyFileSection]\r\n;usbser.sys\r\n");

INSTANTIATE_TEST_SUITE_P(
    Files, PatchModemInfTest,
    ::testing::Values(PatchCase{"OneSectionEditedOnceThenLeftAlone",
                                kOneSection,
                                {{kEdited, kOneSectionEdited}, {kNoEdit, kOneSectionEdited}}},
                      PatchCase{"TwoSectionsOnePerCall",
                                kTwo,
                                {{kEdited, kTwoFirst}, {kEdited, kTwoBoth}, {kNoEdit, kTwoBoth}}},
                      PatchCase{"SectionNameInLowerCase",
                                U16(u"[fakemodemcopyfilesection]\r\nusbser.sys\r\n"),
                                {{kNoEdit, U16(u"[fakemodemcopyfilesection]\r\nusbser.sys\r\n")}}},
                      PatchCase{"FileNameInUpperCase",
                                kSection + U16(u"USBSER.SYS\r\n"),
                                {{kNoEdit, kSection + U16(u"USBSER.SYS\r\n")}}},
                      PatchCase{"BlankBeforeLineEnd",
                                U16(u"[FakeModemCopyFileSection] \r\nusbser.sys\r\n"),
                                {{kNoEdit, U16(u"[FakeModemCopyFileSection] \r\nusbser.sys\r\n")}}},
                      PatchCase{"SingleByteEncoding",
                                "[FakeModemCopyFileSection]\r\nusbser.sys\r\n",
                                {{kNoEdit, "[FakeModemCopyFileSection]\r\nusbser.sys\r\n"}}},
                      PatchCase{"AlreadyCommented",
                                kSection + U16(u";usbser.sys\r\n"),
                                {{kNoEdit, kSection + U16(u";usbser.sys\r\n")}}},
                      PatchCase{"LineBetweenHeaderAndFileName",
                                kSection + U16(u"\r\nusbser.sys\r\n"),
                                {{kNoEdit, kSection + U16(u"\r\nusbser.sys\r\n")}}},
                      PatchCase{"EmptyFile", "", {{kNoEdit, ""}}},
                      PatchCase{"OneByteShortOfAMatch",
                                (kSection + U16(u"usbser.sys")).substr(0, 75),
                                {{kNoEdit, (kSection + U16(u"usbser.sys")).substr(0, 75)}}},
                      PatchCase{"MatchAtOddOffset",
                                "X" + kSection + U16(u"usbser.sys\r\n"),
                                {{kEdited, "X" + kSection + U16(u";usbser.sys\r\n")}}},
                      PatchCase{"MatchEndsTheFile",
                                U16(u"\xFEFF") + kSection + U16(u"usbser.sys"),
                                {{kEdited, U16(u"\xFEFF") + kSection + U16(u";usbser.sys")}}}),
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
  EXPECT_EQ(fake_.calls, Lines{}) << "nothing may be put in place after a failed write";
  ExpectUntouched();
}

TEST_F(PatchModemInfFailureTest, ReplaceFailureLeavesTheOriginal) {
  RecordingLog log;
  fake_.replaceAnswer = 0;
  PatchModemInf(file_.c_str());
  EXPECT_EQ(log.messages(), Lines{Gbk(kWriteFailed)});
  ExpectUntouched();
}

TEST_F(PatchModemInfFailureTest, ShortReadEndsTheCall) {
  RecordingLog log;
  g_shortenNextRead = true;
  PatchModemInf(file_.c_str());
  g_shortenNextRead = false;
  EXPECT_EQ(log.messages(), Lines{Gbk(kReadLength)});
  EXPECT_TRUE(fake_.calls.empty());
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
  EXPECT_EQ(log.messages(), Lines{Gbk("FAIL: 无法打开mdmcpq.inf文件\n")});
  ExpectUntouched();
}

TEST(FindModemPatchOffsetTest, NearMatchesAtEveryAlignmentAreSkipped) {
  const std::string pattern = kSection + U16(u"usbser.sys");
  std::string near = pattern;
  near[near.size() - 2] = 'x';  // "usbser.syx"
  const std::string data = near + "A" + near + near + "BC" + pattern + near;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  EXPECT_EQ(FindModemPatchOffset(bytes, data.size()), 3 * near.size() + 3);
  EXPECT_EQ(FindModemPatchOffset(bytes, 3 * near.size() + 3), 3 * near.size() + 3);
}

}  // namespace

#pragma once

#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/fake_platform_ops.h"

// UTF-16LE bytes of `text`, as the INF files the program edits hold them, whatever the host's
// byte order.
std::string Utf16Bytes(const std::u16string& text);

// GBK bytes of UTF-8 text, made by the C library's converter, never by the program.
std::string Gbk(const std::string& utf8);
std::vector<std::string> Gbk(const std::vector<std::string>& utf8);

// Every text the programs can write to the log, in UTF-8, written out here apart from the
// program's own copies.
const std::vector<std::string>& AllProgramTextsUtf8();

// The recorded calls without the Windows version questions that gate a step.
std::vector<std::string> WithoutVersionQuestions(const std::vector<std::string>& calls);

// The recorded calls after the DLL search is made safe, which every program does first.
std::vector<std::string> AfterDllSearch(const std::vector<std::string>& calls);

// Whether any recorded call starts with `prefix`.
bool AnyCallStartsWith(const std::vector<std::string>& calls, const std::string& prefix);

// The lists one after another.
std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts);

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// The messages of a log file's records, each record's frame checked on the way.
std::vector<std::string> LogMessages(const std::string& logBytes);

// A catalog member as catalogs carry it: an SpcIndirectDataContent (DER) with this SHA-1 or
// SHA-256 digest.
std::vector<unsigned char> CatalogMember(const std::vector<unsigned char>& digest);

// The package INF of the trust tests, with its SHA-1 and SHA-256 worked out apart from the
// program.
extern const char kTrustInfBytes[];
extern const std::vector<unsigned char> kTrustInfSha1;
extern const std::vector<unsigned char> kTrustInfSha256;

// A catalog whose signature, content and chain all verify, signed for code signing, listing two
// other files and then the trust tests' INF.
CatalogFacts VerifiedCatalog();

// The bytes the host build's set-up program takes for the 64-bit helper it shipped with.
std::string HelperStandIn();

// A fresh folder that is the current directory for the test's life, so the program's
// Windows-style paths ("C:\Windows\inf\mdmcpq.inf") land in it as plain file names.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::vector<std::string> Files() const;

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// Registers the install logger over a sink that keeps the messages in memory.
class RecordingLog {
 public:
  explicit RecordingLog(std::function<void()> onRecord = nullptr);
  ~RecordingLog();
  RecordingLog(const RecordingLog&) = delete;
  RecordingLog& operator=(const RecordingLog&) = delete;
  const std::vector<std::string>& messages() const { return *messages_; }

 private:
  std::shared_ptr<std::vector<std::string>> messages_;
};

// A whole run of a program started from C:\QZ on 64-bit Windows 10 over the fake, in a scratch
// folder that holds the program's logs folder; the loggers are dropped after each test.
class WholeRunTest : public ::testing::Test {
 protected:
  static constexpr char kLogFolder[] = "C:\\QZ\\logs";
  static constexpr char kLogFile[] = "C:\\QZ\\logs\\QZ_Orvo_Driver_Log.txt";

  void SetUp() override;
  void TearDown() override;
  // The messages of the log's records, each record's frame checked.
  std::vector<std::string> LoggedMessages() const;

  ScratchFolder scratch_;
  FakePlatform fake_;
};

// The records (UTF-8) of a set-up run on a fresh 64-bit Windows 10: both files copied, the
// package staged.
const std::vector<std::string>& FreshSetupRunUtf8();

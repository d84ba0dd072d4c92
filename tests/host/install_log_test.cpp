#include "log/install_log.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <regex>

#include "tests/host/test_support.h"

namespace {

namespace fs = std::filesystem;

class InstallLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseFakePlatform(fake_);
    fs::create_directory(scratch_.path() / "logs");
  }
  void TearDown() override { spdlog::drop_all(); }

  fs::path LogFile() const { return scratch_.path() / "logs" / "QZ_Orvo_Driver_Log.txt"; }

  FakePlatform fake_;
  ScratchFolder scratch_;
};

// The first record's bytes, written out by hand: frame, message, CR LF.
TEST_F(InstallLogTest, RecordBytesAreFrameMessageAndCrLf) {
  auto log = CreateInstallLog("driver_install_info", LogFile().string());
  ASSERT_TRUE(log);
  LogInfo(*log, "\xB9\xD8\xB1\xD5\n");        // GBK for two Chinese characters and LF
  LogInfo("FAIL: \xCA\xA7\xB0\xDC\xA3\xBA");  // ends with a full-width colon, no LF
  LogInfo("\n");
  log.reset();
  CloseInstallLog();

  const std::string bytes = ReadBytes(LogFile());
  const std::regex frame(
      "\\[(\\d{4})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})\\.(\\d{3})\\] "
      "\\[driver_install_info\\] \\[info\\] ");
  const std::string stamp = "\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\] ";
  const std::string head = stamp + "\\[driver_install_info\\] \\[info\\] ";
  EXPECT_TRUE(
      std::regex_match(bytes, std::regex(head + "\xB9\xD8\xB1\xD5\n\r\n" + head +
                                         "FAIL: \xCA\xA7\xB0\xDC\xA3\xBA\r\n" + head + "\n\r\n")))
      << bytes;
}

TEST_F(InstallLogTest, DateIsLocalTimeWithTruncatedMilliseconds) {
  setenv("TZ", "UTC-8", 1);  // eight hours east of UTC, so local and UTC differ
  tzset();
  auto log = CreateInstallLog("driver_install_info", LogFile().string());
  ASSERT_TRUE(log);
  const auto before = std::chrono::system_clock::now();
  LogInfo(*log, "x");
  const auto after = std::chrono::system_clock::now();
  log.reset();
  CloseInstallLog();
  unsetenv("TZ");
  tzset();

  const auto format = [](std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    utc.tm_hour += 8;
    timegm(&utc);  // normalises the shifted fields
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return std::string(text);
  };
  const std::string bytes = ReadBytes(LogFile());
  ASSERT_GE(bytes.size(), 25u);
  const std::string stamp = bytes.substr(1, 23);
  EXPECT_LE(format(before), stamp);
  EXPECT_GE(format(after), stamp);
}

TEST_F(InstallLogTest, SecondRunAppendsAfterTheFirst) {
  for (const char* message : {"first\n", "second\n"}) {
    auto log = CreateInstallLog("driver_install_info", LogFile().string());
    ASSERT_TRUE(log);
    LogInfo(*log, message);
    log.reset();
    CloseInstallLog();
  }
  EXPECT_EQ(LogMessages(ReadBytes(LogFile())), (std::vector<std::string>{"first\n", "second\n"}));
}

TEST_F(InstallLogTest, RecordsReachTheFileWhenTheLogCloses) {
  auto log = CreateInstallLog("driver_install_info", LogFile().string());
  ASSERT_TRUE(log);
  LogInfo("buffered\n");
  EXPECT_EQ(ReadBytes(LogFile()), "");  // no flush per record
  log.reset();
  CloseInstallLog();
  EXPECT_EQ(LogMessages(ReadBytes(LogFile())), std::vector<std::string>{"buffered\n"});
}

TEST_F(InstallLogTest, MissingFolderIsNeitherCreatedNorWritten) {
  const fs::path missing = scratch_.path() / "elsewhere" / "logs" / "QZ_Orvo_Driver_Log.txt";
  EXPECT_FALSE(CreateInstallLog("driver_install_info", missing.string()));
  EXPECT_FALSE(fs::exists(scratch_.path() / "elsewhere"));
  EXPECT_FALSE(spdlog::get("driver_install_info"));
  LogInfo("nowhere\n");  // no logger: nothing happens
}

TEST_F(InstallLogTest, FileThatCannotBeOpenedGivesNoLogger) {
  fs::create_directory(LogFile());  // a folder where the file should be
  EXPECT_FALSE(CreateInstallLog("driver_install_info", LogFile().string()));
  EXPECT_FALSE(spdlog::get("driver_install_info"));
}

// Another account may plant a link where the log goes, to have an elevated run append to a
// system file: such a log is not opened at all, and the file behind the link keeps its bytes.
struct PlantedLink {
  const char* name;
  std::function<void(const fs::path& log, const fs::path& target)> plant;
};

class PlantedLinkTest : public InstallLogTest, public ::testing::WithParamInterface<PlantedLink> {};

TEST_P(PlantedLinkTest, LogIsNotOpenedAndTheLinkedFileKeepsItsBytes) {
  const fs::path target = scratch_.path() / "system.ini";
  WriteBytes(target, "the system's own bytes\r\n");
  GetParam().plant(LogFile(), target);

  EXPECT_FALSE(CreateInstallLog("driver_install_info", LogFile().string()));
  LogInfo("nowhere\n");
  CloseInstallLog();

  EXPECT_FALSE(spdlog::get("driver_install_info"));
  EXPECT_EQ(ReadBytes(target), "the system's own bytes\r\n");
  EXPECT_EQ(fake_.openHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Links, PlantedLinkTest,
    ::testing::Values(PlantedLink{"HardLink",
                                  [](const fs::path& log, const fs::path& target) {
                                    fs::create_hard_link(target, log);
                                  }},
                      PlantedLink{"SymbolicLink",
                                  [](const fs::path& log, const fs::path& target) {
                                    fs::create_symlink(target, log);
                                  }}),
    [](const auto& row) { return std::string(row.param.name); });

// The logs folder itself a link to a system folder.
TEST_F(InstallLogTest, LinkedLogsFolderGetsNoFile) {
  fs::remove(scratch_.path() / "logs");
  fs::create_directory(scratch_.path() / "system");
  fs::create_directory_symlink(scratch_.path() / "system", scratch_.path() / "logs");
  EXPECT_FALSE(CreateInstallLog("driver_install_info", LogFile().string()));
  EXPECT_TRUE(fs::is_empty(scratch_.path() / "system"));
}

TEST_F(InstallLogTest, NameAlreadyRegisteredGivesNoLogger) {
  auto first = CreateInstallLog("driver_install_info", LogFile().string());
  ASSERT_TRUE(first);
  EXPECT_FALSE(CreateInstallLog("driver_install_info", LogFile().string()));
  EXPECT_EQ(spdlog::get("driver_install_info"), first);
}

}  // namespace

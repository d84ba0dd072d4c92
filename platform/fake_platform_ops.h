#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform_ops.h"

// Scripted answers for the host build. Every call is recorded as one readable line, e.g.
// "CopyFileA C:\a -> C:\b fail-if-exists=1", so a test can assert the exact sequence.
struct FakePlatform {
  std::string modulePath = "C:\\Tools\\QZ\\QZ_DriverSetup.exe";
  bool moduleFileNameFails = false;

  bool hasRtlGetVersion = true;
  std::int32_t rtlGetVersionStatus = 0;
  std::uint32_t majorVersion = 10;
  std::uint32_t minorVersion = 0;
  std::uint32_t buildNumber = 19045;
  std::uint16_t servicePackMajor = 0;

  bool hasGetNativeSystemInfo = true;
  std::uint16_t nativeArchitecture = 9;
  std::uint16_t processArchitecture = 0;

  // Answers of CopyFileA in call order; `copyAnswer` once they run out.
  std::deque<int> copyAnswers;
  int copyAnswer = 1;
  int redirectionOffAnswer = 1;

  int setupCopyAnswer = 1;
  std::uint32_t setupCopyError = 0;
  bool setupCopySetsComponent = true;
  std::string stagedInfName = "oem7.inf";

  // Replaces for real (rename) unless told to fail.
  int replaceAnswer = 1;
  // Asks the real file system unless scripted.
  std::optional<int> directoryExistsAnswer;

  std::uint32_t lastError = 0;
  bool versionRecordWasZeroed = true;
  std::vector<std::string> calls;
};

// Makes `fake` the active platform until another is set.
void UseFakePlatform(FakePlatform& fake);

#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
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
  // CopyFileA copies the real files instead of answering from the script.
  bool copyModelsFiles = false;
  int redirectionOffAnswer = 1;

  int setupCopyAnswer = 1;
  std::uint32_t setupCopyError = 0;
  bool setupCopySetsComponent = true;
  std::string stagedInfName = "oem7.inf";

  // What ReplaceFileA does to the real files before answering.
  enum class ReplaceEffect {
    kReplaces,              // replaced -> backup, replacement -> replaced; answers 1
    kLeavesBoth,            // nothing moves; answers 0
    kRemovesReplaced,       // the replaced file is gone, the replacement stays; answers 0
    kMovesReplacedToBackup  // replaced -> backup, the replacement stays; answers 0
  };
  ReplaceEffect replaceEffect = ReplaceEffect::kReplaces;
  // The last error a failed ReplaceFileA leaves.
  std::uint32_t replaceError = 0;
  // Asks the real file system unless scripted.
  std::optional<int> directoryExistsAnswer;

  bool mutexCreateFails = false;
  // The last error of a refused CreateMutexA.
  std::uint32_t mutexCreateError = 0;
  bool mutexOpenFails = false;
  std::uint32_t waitAnswer = kWaitObject0;
  bool hasPrivateNamespaces = true;
  bool sddlRefused = false;
  bool boundaryFails = false;
  // Answers of CreatePrivateNamespaceA and OpenPrivateNamespaceA in call order, as the last
  // error of a failure (0: the call succeeds); success once they run out.
  std::deque<std::uint32_t> namespaceCreateErrors;
  std::deque<std::uint32_t> namespaceOpenErrors;
  std::function<void()> onWait;
  std::function<void()> onReleaseMutex;

  // Flags of the process's window station; none when the question fails.
  std::optional<std::uint32_t> windowStationFlags = kWindowStationVisible;
  // The process's session; none when the question fails.
  std::optional<std::uint32_t> session = 1u;
  bool hasNonInteractiveMode = true;
  // [Version] entries of the package INF by key; an INF the parser rejects has none.
  std::map<std::string, std::string> infVersion;
  // [Version] entries of one INF by its path, asked before `infVersion`.
  std::map<std::string, std::map<std::string, std::string>> infVersionByPath;
  // Names INFs were staged from, by path; an INF with no entry reports its own file name (as
  // Wine does), one that does not exist none.
  std::map<std::string, std::string> originalNames;
  std::string windowsDirectory = "C:\\Windows";
  struct Uninstall {
    int answer;
    std::uint32_t error;
    bool deletes;
  };
  // What SetupUninstallOEMInfA does by INF name; by default it deletes the real file
  // `windowsDirectory`\inf\name and answers 1.
  std::map<std::string, Uninstall> uninstalls;
  CatalogFacts catalog;
  int trustedPublisherHasAnswer = 0;
  int addTrustedPublisherAnswer = 1;

  // Sections of the package INF as the Setup API's parser reads them.
  std::map<std::string, std::vector<InfLine>> infSections;
  std::vector<PresentDeviceFacts> devices;
  bool devicesCannotBeListed = false;
  struct DriverUpdate {
    int answer;
    std::uint32_t error;
    bool reboot;
  };
  // What UpdateDriverForPlugAndPlayDevicesA answers by hardware ID; success by default.
  std::map<std::string, DriverUpdate> driverUpdates;
  // RunProcess: the process's exit code, or the last error when it cannot be started.
  std::uint32_t processExitCode = 0;
  std::optional<std::uint32_t> processStartError;

  std::uint32_t processId = 4242;
  // Attribute bits of real files by path; a file with no entry has only the archive bit,
  // and whatever ReplaceFileA puts in place loses its bits, as on Windows and Wine.
  std::map<std::string, std::uint32_t> attributes;

  std::uint32_t lastError = 0;
  bool versionRecordWasZeroed = true;
  std::vector<std::string> calls;

  // The call with this number (counted from 1 over every recorded call) fails as the platform
  // would fail it; 0: none fails. Calls that cannot fail answer as usual.
  std::size_t failCall = 0;
  // Handles handed out and not yet closed, and whether the run's mutex is held.
  int openHandles = 0;
  bool mutexHeld = false;
};

// Makes `fake` the active platform until another is set.
void UseFakePlatform(FakePlatform& fake);

#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform_ops.h"

// Scripted answers for the host build. Every call is recorded as one readable line, e.g.
// "CopyFileA C:\a -> C:\b fail-if-exists=1", so a test can assert the exact sequence.
//
// A test scripts the answers one way, whatever the call:
// - A call that can fail has an error field (`copyError`): 0, the default, lets it succeed;
//   any other number makes it fail and leave that number as the last error. A call asked more
//   than once in a run takes a queue of them (`namespaceCreateErrors`), used first, in order.
// - What a call answers besides success (a path, a version, a wait result, a yes or no) is a
//   field of its own; answers that depend on an argument are maps keyed by that argument.
// - What this Windows lacks is a `has...` field set to false.
// - `failCall` fails the call with that number, whatever it is, as Windows would fail it;
//   `on...` hooks run test code inside a call.
// By default the fake is a 64-bit Windows 10 on which everything succeeds.
struct FakePlatform {
  std::string modulePath = "C:\\Tools\\QZ\\QZ_DriverSetup.exe";
  std::uint32_t moduleFileNameError = 0;
  // SetDefaultDllDirectories (Windows 8 on, 7 with KB2533623), and the DLLs the system folder
  // lacks.
  bool hasDefaultDllDirectories = true;
  std::set<std::string> absentSystemDlls;

  bool hasRtlGetVersion = true;
  std::int32_t rtlGetVersionStatus = 0;
  std::uint32_t majorVersion = 10;
  std::uint32_t minorVersion = 0;
  std::uint32_t buildNumber = 19045;
  std::uint16_t servicePackMajor = 0;
  std::uint8_t productType = 1;      // VER_NT_WORKSTATION
  std::uint16_t suiteMask = 0x0100;  // VER_SUITE_SINGLEUSERTS, as a desktop Windows answers

  bool hasGetNativeSystemInfo = true;
  std::uint16_t nativeArchitecture = 9;
  std::uint16_t processArchitecture = 0;
  // IsWow64Process2 (Windows 10 1709 on): the machines it answers (IMAGE_FILE_MACHINE_*), or the
  // error it fails with.
  bool hasIsWow64Process2 = false;
  std::uint16_t wow64ProcessMachine = 0x014C;
  std::uint16_t wow64NativeMachine = 0x8664;
  std::uint32_t isWow64Process2Error = 0;

  std::uint32_t copyError = 0;
  // CopyFileA copies the real files instead of answering from the script.
  bool copyModelsFiles = false;
  std::uint32_t redirectionOffError = 0;

  // 80 (already there) still names the staged INF, as Windows does.
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

  std::uint32_t mutexCreateError = 0;
  std::uint32_t mutexOpenError = 0;
  std::uint32_t waitAnswer = kWaitObject0;
  bool hasPrivateNamespaces = true;
  std::uint32_t sddlError = 0;
  std::uint32_t boundaryError = 0;
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
  // GetSystemWindowsDirectory's failure (no answer, or a folder the ANSI code page cannot spell).
  std::uint32_t windowsDirectoryError = 0;
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
  std::uint32_t addTrustedPublisherError = 0;

  // Sections of the package INF as the Setup API's parser reads them.
  std::map<std::string, std::vector<InfLine>> infSections;
  std::vector<PresentDeviceFacts> devices;
  std::uint32_t devicesListError = 0;
  struct DriverUpdate {
    int answer;
    std::uint32_t error;
    bool reboot;
  };
  // What UpdateDriverForPlugAndPlayDevicesA answers by hardware ID; success by default.
  std::map<std::string, DriverUpdate> driverUpdates;
  // RunProcess: the exit code of the process it started.
  std::uint32_t processExitCode = 0;
  std::uint32_t processStartError = 0;

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

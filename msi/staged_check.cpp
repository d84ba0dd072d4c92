// The installer package's look into the driver store. Before anything changes, it notes whether
// this release is staged already, so that a failed install takes out only what it staged. After
// the set-up program has run, which exits with 0 once its log is open whatever happened, it
// fails the install unless the driver store really holds the package: a fleet tool trusts an
// installer that reports success.
#include <cstdint>
#include <string>

#include "common/file_digest.h"
#include "common/program_folder.h"
#include "platform/platform_ops.h"
#include "platform/windows_installer.h"
#include "platform/windows_platform_ops.h"
#include "remove/driver_removal.h"

namespace {

// Windows Installer's answers for a custom action.
constexpr unsigned kActionSucceeded = 0;  // ERROR_SUCCESS
constexpr unsigned kActionFailed = 1603;  // ERROR_INSTALL_FAILURE: the install is rolled back

void UseWindows() {
  static const PlatformOps ops = WindowsPlatformOps();
  SetPlatform(ops);
}

// "0A1b..." -> its bytes; empty when the text is not 64 hexadecimal digits.
Digest Sha256FromHex(const std::string& text) {
  const auto nibble = [](char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
  };
  Digest digest;
  for (std::size_t i = 0; text.size() == 64 && i < text.size(); i += 2) {
    const int high = nibble(text[i]);
    const int low = nibble(text[i + 1]);
    if (high < 0 || low < 0) {
      return {};
    }
    digest.push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return digest;
}

}  // namespace

// Immediate, before the install changes anything: QZ_RELEASE_WAS_STAGED is set when the driver
// store already holds this release (the INF whose SHA-256 the package carries), so the
// install's rollback leaves it there.
extern "C" __declspec(dllexport) unsigned __stdcall FindStagedRelease(InstallerSession session) {
  UseWindows();
  const Digest digest = Sha256FromHex(InstallerProperty(session, "QZ_PACKAGE_INF_SHA256"));
  if (digest.empty()) {
    InstallerLogLine(session, "QZ_DriverSetup: the package carries no SHA-256 of its INF");
    return kActionFailed;
  }
  const bool staged = StagedInfWithSha256(digest);
  if (staged) {
    SetInstallerProperty(session, "QZ_RELEASE_WAS_STAGED", "1");
  }
  InstallerLogLine(session, staged ? "QZ_DriverSetup: this release is staged already: a rollback "
                                     "leaves it"
                                   : "QZ_DriverSetup: this release is not staged yet");
  return kActionSucceeded;
}

namespace {

// The folder the package installed into, as it hands it over (with or without its last
// backslash); empty when it did not.
std::string InstalledFolder(InstallerSession session) {
  std::string folder = InstallerProperty(session, "CustomActionData");
  while (!folder.empty() && folder.back() == '\\') {
    folder.pop_back();
  }
  if (folder.empty()) {
    InstallerLogLine(session, "QZ_DriverSetup: the installed folder was not handed over");
  }
  return folder;
}

unsigned ReportStaged(InstallerSession session, const std::string& folder) {
  const std::string inf = folder + kPackageInfSuffix;
  if (ThisReleaseStaged(inf.c_str())) {
    InstallerLogLine(session, "QZ_DriverSetup: the driver store holds the package of " + inf);
    return kActionSucceeded;
  }
  // An earlier release may still be staged; only this one's very INF makes the install good.
  InstallerLogLine(session, "QZ_DriverSetup: the driver store does not hold the package of " + inf +
                                " after QZ_DriverSetup.exe ran; its log says why: " + folder +
                                kLogSuffix);
  return kActionFailed;
}

}  // namespace

extern "C" __declspec(dllexport) unsigned __stdcall CheckPackageStaged(InstallerSession session) {
  UseWindows();
  const std::string folder = InstalledFolder(session);
  return folder.empty() ? kActionFailed : ReportStaged(session, folder);
}

// After an upgrade removed the older release, whose remover may have taken every release of the
// package out of the driver store: set-up runs again where this release is missing.
extern "C" __declspec(dllexport) unsigned __stdcall EnsurePackageStaged(InstallerSession session) {
  UseWindows();
  const std::string folder = InstalledFolder(session);
  if (folder.empty()) {
    return kActionFailed;
  }
  const std::string inf = folder + kPackageInfSuffix;
  if (ThisReleaseStaged(inf.c_str())) {
    InstallerLogLine(session,
                     "QZ_DriverSetup: the older release's removal left this release in "
                     "the driver store");
    return kActionSucceeded;
  }
  InstallerLogLine(session,
                   "QZ_DriverSetup: the older release's removal took this release out "
                   "of the driver store: QZ_DriverSetup.exe runs again");
  const std::string setup = folder + "\\QZ_DriverSetup.exe";
  char systemFolder[kPathCapacity] = {};
  std::uint32_t exitCode = 0;
  if (Platform().GetSystemDirectoryA(systemFolder, kPathCapacity) == 0 ||
      Platform().RunProcess(setup.c_str(), ("\"" + setup + "\"").c_str(), systemFolder,
                            &exitCode) == 0 ||
      exitCode != 0) {
    InstallerLogLine(session, "QZ_DriverSetup: " + setup + " could not run again");
    return kActionFailed;
  }
  return ReportStaged(session, folder);
}

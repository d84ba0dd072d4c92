#include "common/run_lock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "setup/run_driver_setup.h"
#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

// Two starts take turns: the lock is waited for before anything else, and let go only once the
// log file is closed, so a waiting run's records follow this run's closing records.
struct LockCase {
  const char* name;
  std::function<void(FakePlatform&)> script;
  bool owned;
  Lines lockCallsBefore;
  Lines lockCallsAfter;
};

class RunLockTest : public WholeRunTest, public ::testing::WithParamInterface<LockCase> {};

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

  const Lines calls = AfterDllSearch(fake_.calls);
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
  EXPECT_EQ(messages, Gbk(FreshSetupRunUtf8())) << "the lock changed what the log says";
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
                 [](FakePlatform& f) { f.mutexCreateError = 1450; },
                 false,
                 Join({kNamespaceStart,
                       {kCreateNamespace, "DeleteBoundaryDescriptor boundary",
                        "CreateMutexA " + kPrivateName + " security=" + kSddl, "GetLastError",
                        "FreeSecurityDescriptor " + kSddl, "ClosePrivateNamespace namespace"}}),
                 {}},
        // Without its descriptor the namespace and the mutex get the account's default one.
        LockCase{
            "DescriptorRefused",
            [](FakePlatform& f) { f.sddlError = kErrorAccessDenied; },
            true,
            {"PrivateNamespacesAvailable", "SecurityDescriptorFromSddl " + kSddl,
             "CreateBoundaryDescriptorA QZ_DriverSetup_Boundary",
             "AddAdministratorsToBoundary boundary",
             "CreatePrivateNamespaceA QZ_DriverSetup boundary=boundary security=default",
             "DeleteBoundaryDescriptor boundary",
             "CreateMutexA " + kPrivateName + " security=default", "WaitForSingleObject mutex"},
            kReleaseInNamespace},
        LockCase{"BoundaryFails",
                 [](FakePlatform& f) { f.boundaryError = kErrorAccessDenied; },
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
                   f.mutexCreateError = kErrorAccessDenied;
                   f.mutexOpenError = kErrorAccessDenied;
                 },
                 false,
                 Join({kGlobalMutex, {"GetLastError", "OpenMutexA 0x100000 " + kGlobalName}}),
                 {}},
        LockCase{"GlobalMutexCannotBeCreated",
                 [](FakePlatform& f) {
                   f.hasPrivateNamespaces = false;
                   f.mutexCreateError = 1450;
                 },
                 false,
                 Join({kGlobalMutex, {"GetLastError"}}),
                 {}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace

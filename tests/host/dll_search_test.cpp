// Every program keeps a planted DLL out before it calls anything that may load one late.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "remove/driver_removal.h"
#include "setup/run_driver_setup.h"
#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;

// What setupapi, newdev, crypt32 and wintrust load by name on Windows, written out here apart
// from the program's own list.
const Lines kMustBeLoadedEarly = {"wintrust.dll", "crypt32.dll",  "msasn1.dll", "cryptsp.dll",
                                  "rsaenh.dll",   "cfgmgr32.dll", "devobj.dll", "newdev.dll"};

// Calls into the Setup API, newdev and the trust functions, any of which may load a DLL late.
const Lines kLoadingCalls = {"SetupCopyOEMInfA",         "SetupSetNonInteractiveMode",
                             "ReadInfVersionString",     "ReadInfSectionLines",
                             "QueryInfOriginalFileName", "SetupUninstallOEMInfA",
                             "ListPresentDevices",       "UpdateDriverForPlugAndPlayDevicesA",
                             "InspectCatalog",           "TrustedPublisherHas",
                             "AddTrustedPublisher"};

std::size_t FirstLoadingCall(const Lines& calls) {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    for (const std::string& name : kLoadingCalls) {
      if (calls[i].rfind(name + " ", 0) == 0 || calls[i] == name) return i;
    }
  }
  return calls.size();
}

std::size_t IndexOf(const Lines& calls, const std::string& call) {
  return static_cast<std::size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
}

struct Program {
  const char* name;
  const char* modulePath;
  int (*run)();
};

int RunSetup() { return DriverSetupMain(); }
int RunRemover() {
  const char* const argv[] = {"QZ_DriverRemove.exe"};
  return DriverRemoveMain(1, argv);
}

struct SearchCase {
  Program program;
  bool defaultDllDirectories;
};

void PrintTo(const SearchCase& c, std::ostream* os) {
  *os << c.program.name << (c.defaultDllDirectories ? " with" : " without")
      << " SetDefaultDllDirectories";
}

class EarlyLoadTest : public WholeRunTest, public ::testing::WithParamInterface<SearchCase> {};

// A 32-bit Windows 10 with a device to install onto in process and a catalog to verify, so that
// every kind of late-loading call is made.
TEST_P(EarlyLoadTest, SystemDllsAreLoadedBeforeAnyCallThatMayLoadThem) {
  const SearchCase& c = GetParam();
  fake_.modulePath = c.program.modulePath;
  fake_.hasDefaultDllDirectories = c.defaultDllDirectories;
  fake_.nativeArchitecture = 0;
  fake_.infVersion["CatalogFile"] = "qz_uart.cat";
  WriteBytes(scratch_.path() / "C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf", kTrustInfBytes);
  fake_.catalog = VerifiedCatalog();
  fake_.catalog.signerCertificate = {'q', 'z'};
  fake_.infSections["Manufacturer"] = {{"QZ", "QZ", "NTx86"}};
  fake_.infSections["QZ.NTx86"] = {{"QZ USB to UART", "QZ_Uart", "USB\\VID_1A86&PID_E0A1"}};
  fake_.devices = {{{"USB\\VID_1A86&PID_E0A1"}, ""}};

  EXPECT_EQ(c.program.run(), 0);

  const Lines& calls = fake_.calls;
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "ConfineDllSearch") << "the search is switched before anything else";
  const std::size_t firstLoading = FirstLoadingCall(calls);
  ASSERT_LT(firstLoading, calls.size()) << "the run made none of the calls this test is about";
  for (const std::string& dll : kMustBeLoadedEarly) {
    EXPECT_LT(IndexOf(calls, "PreloadSystemDll " + dll), firstLoading)
        << dll << " is loaded late, or never";
  }
}

const Program kSetup = {"Setup", "C:\\QZ\\QZ_DriverSetup.exe", RunSetup};
const Program kRemover = {"Remover", "C:\\QZ\\QZ_DriverRemove.exe", RunRemover};

INSTANTIATE_TEST_SUITE_P(Programs, EarlyLoadTest,
                         ::testing::Values(SearchCase{kSetup, true}, SearchCase{kSetup, false},
                                           SearchCase{kRemover, true}, SearchCase{kRemover, false}),
                         [](const auto& row) {
                           return std::string(row.param.program.name) +
                                  (row.param.defaultDllDirectories ? "WithDefaultDirectories"
                                                                   : "WithoutDefaultDirectories");
                         });

// A release without some of them (XP has neither cryptsp nor devobj) runs as any other.
TEST_F(WholeRunTest, MissingSystemDllsAreNoError) {
  fake_.absentSystemDlls = {"cryptsp.dll", "devobj.dll", "drvstore.dll", "bcrypt.dll"};
  EXPECT_EQ(DriverSetupMain(), 0);
  EXPECT_EQ(LoggedMessages(), Gbk(FreshSetupRunUtf8()));
}

}  // namespace

#include "setup/publisher_trust.h"

#include <gtest/gtest.h>

#include "setup/unseen_prompts.h"
#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;

const char kInf[] = "C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf";
const std::string kCatalog = "C:\\QZ\\Drivers\\qz_uart.cat";
const std::string kAdded = "INFO: 已将驱动发布者证书添加到受信任的发布者 \n";
const std::string kUnverified = "Warning: 驱动目录文件签名无法验证，Windows 可能拒绝或提示安装 \n";
const Lines kAskArchitecture = {"GetModuleHandleA kernel32",
                                "GetProcAddress kernel32 GetNativeSystemInfo",
                                "GetNativeSystemInfo"};

std::string Read(const std::string& key) {
  return std::string("ReadInfVersionString ") + kInf + " " + key;
}

// A catalog whose signature, content and chain all verify, signed for code signing.
CatalogFacts Verified() {
  CatalogFacts facts;
  facts.present = true;
  facts.signedMessage = true;
  facts.signatureValid = true;
  facts.signerUsages = {"1.3.6.1.5.5.7.3.3"};
  facts.signerCertificate = {'s', 'i', 'g', 'n', 'e', 'r'};
  return facts;
}

template <typename Change>
CatalogFacts VerifiedExcept(Change change) {
  CatalogFacts facts = Verified();
  change(facts);
  return facts;
}

struct TrustCase {
  const char* name;
  std::string catalogName;  // empty: the INF names none
  CatalogFacts facts;
  int storeHas;
  int storeAdds;
  Lines callsAfterLookup;  // after the architecture question and the INF lookups
  Lines records;
};

class TrustPackagePublisherTest : public ::testing::TestWithParam<TrustCase> {};

TEST_P(TrustPackagePublisherTest, TrustsOnlyWhatVerifiesAndSaysSoOnlyWhenSomethingHappened) {
  const TrustCase& c = GetParam();
  FakePlatform fake;
  fake.nativeArchitecture = 9;
  if (!c.catalogName.empty()) fake.infVersion["CatalogFile"] = c.catalogName;
  fake.catalog = c.facts;
  fake.trustedPublisherHasAnswer = c.storeHas;
  fake.addTrustedPublisherAnswer = c.storeAdds;
  UseFakePlatform(fake);
  RecordingLog log;

  TrustPackagePublisher(kInf);

  const Lines lookups = {Read("CatalogFile.NTamd64"), Read("CatalogFile.NT"), Read("CatalogFile")};
  EXPECT_EQ(fake.calls, Join({kAskArchitecture, lookups, c.callsAfterLookup}));
  EXPECT_EQ(log.messages(), Gbk(c.records));
}

const std::string kInspect = "InspectCatalog " + kCatalog;

INSTANTIATE_TEST_SUITE_P(
    Cases, TrustPackagePublisherTest,
    ::testing::Values(
        TrustCase{"NoCatalogNamed", "", Verified(), 0, 1, {}, {}},
        TrustCase{
            "NamedButMissing", "qz_uart.cat", CatalogFacts(), 0, 1, {kInspect}, {kUnverified}},
        TrustCase{"Unsigned",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) { f.signedMessage = false; }),
                  0,
                  1,
                  {kInspect},
                  {kUnverified}},
        TrustCase{"SignatureBad",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) { f.signatureValid = false; }),
                  0,
                  1,
                  {kInspect},
                  {kUnverified}},
        // TRUST_E_BAD_DIGEST: the content is not what was signed.
        TrustCase{"ContentChanged",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) { f.trustVerdict = 0x80096010; }),
                  0,
                  1,
                  {kInspect},
                  {kUnverified}},
        // CERT_E_UNTRUSTEDROOT, though the platform's verdict let it through.
        TrustCase{"ChainUntrusted",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) { f.chainPolicyError = 0x800B0109; }),
                  0,
                  1,
                  {kInspect},
                  {kUnverified}},
        TrustCase{"SignerNotForCodeSigning",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) { f.signerUsages = {"1.3.6.1.5.5.7.3.1"}; }),
                  0,
                  1,
                  {kInspect},
                  {kUnverified}},
        TrustCase{"HardwareProgrammeSigner",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) {
                    f.signerUsages = {"1.3.6.1.4.1.311.10.3.5", "1.3.6.1.4.1.311.10.3.6"};
                  }),
                  0,
                  1,
                  {kInspect},
                  {}},
        TrustCase{"SignerAlreadyTrusted",
                  "qz_uart.cat",
                  Verified(),
                  1,
                  1,
                  {kInspect, "TrustedPublisherHas signer"},
                  {}},
        TrustCase{"SignerNewlyAdded",
                  "qz_uart.cat",
                  Verified(),
                  0,
                  1,
                  {kInspect, "TrustedPublisherHas signer", "AddTrustedPublisher signer"},
                  {kAdded}},
        TrustCase{"SignerForEveryUsageAdded",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) {
                    f.signerUsages.clear();
                    f.signerAllowsEveryUsage = true;
                  }),
                  0,
                  1,
                  {kInspect, "TrustedPublisherHas signer", "AddTrustedPublisher signer"},
                  {kAdded}},
        TrustCase{"StoreCannotBeOpened",
                  "qz_uart.cat",
                  Verified(),
                  -1,
                  1,
                  {kInspect, "TrustedPublisherHas signer"},
                  {}},
        TrustCase{"StoreRefusesTheCertificate",
                  "qz_uart.cat",
                  Verified(),
                  0,
                  0,
                  {kInspect, "TrustedPublisherHas signer", "AddTrustedPublisher signer"},
                  {}},
        // Windows looks beside the INF only: a name that leads elsewhere is a missing catalog.
        TrustCase{
            "NameLeadingElsewhere", "..\\other\\qz_uart.cat", Verified(), 0, 1, {}, {kUnverified}}),
    [](const auto& row) { return std::string(row.param.name); });

struct NameCase {
  const char* name;
  std::uint16_t architecture;
  std::map<std::string, std::string> entries;
  std::string resolved;
  Lines lookups;
};

class ResolveCatalogNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ResolveCatalogNameTest, MostSpecificEntryWins) {
  const NameCase& c = GetParam();
  FakePlatform fake;
  fake.nativeArchitecture = c.architecture;
  fake.infVersion = c.entries;
  UseFakePlatform(fake);
  EXPECT_EQ(ResolveCatalogName(kInf), c.resolved);
  Lines lookups;
  for (const auto& call : fake.calls) {
    if (call.rfind("ReadInfVersionString ", 0) == 0) lookups.push_back(call);
  }
  EXPECT_EQ(lookups, c.lookups);
}

const std::map<std::string, std::string> kAllEntries = {{"CatalogFile", "plain.cat"},
                                                        {"CatalogFile.NT", "nt.cat"},
                                                        {"CatalogFile.NTx86", "x86.cat"},
                                                        {"CatalogFile.NTamd64", "amd64.cat"},
                                                        {"CatalogFile.NTia64", "ia64.cat"}};

INSTANTIATE_TEST_SUITE_P(
    Entries, ResolveCatalogNameTest,
    ::testing::Values(
        NameCase{"X64", 9, kAllEntries, "amd64.cat", {Read("CatalogFile.NTamd64")}},
        NameCase{"X86", 0, kAllEntries, "x86.cat", {Read("CatalogFile.NTx86")}},
        NameCase{"Itanium", 6, kAllEntries, "ia64.cat", {Read("CatalogFile.NTia64")}},
        NameCase{"OtherArchitectureOnly",
                 0,
                 {{"CatalogFile.NTamd64", "amd64.cat"}, {"CatalogFile.NT", "nt.cat"}},
                 "nt.cat",
                 {Read("CatalogFile.NTx86"), Read("CatalogFile.NT")}},
        NameCase{"PlainOnly",
                 9,
                 {{"CatalogFile", "plain.cat"}},
                 "plain.cat",
                 {Read("CatalogFile.NTamd64"), Read("CatalogFile.NT"), Read("CatalogFile")}},
        NameCase{"EmptyEntryNamesNothing",
                 9,
                 {{"CatalogFile", ""}},
                 "",
                 {Read("CatalogFile.NTamd64"), Read("CatalogFile.NT"), Read("CatalogFile")}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ResolveCatalogNameTest, NameTooLongForTheBufferNamesNothing) {
  FakePlatform fake;
  fake.infVersion["CatalogFile"] = std::string(kPathCapacity, 'x');
  UseFakePlatform(fake);
  EXPECT_EQ(ResolveCatalogName(kInf), "");
}

struct StationCase {
  const char* name;
  std::optional<std::uint32_t> flags;
  Lines calls;
};

class AvoidUnseenPromptsTest : public ::testing::TestWithParam<StationCase> {};

TEST_P(AvoidUnseenPromptsTest, NonInteractiveOnlyWhereNobodySees) {
  FakePlatform fake;
  fake.windowStationFlags = GetParam().flags;
  UseFakePlatform(fake);
  AvoidUnseenPrompts();
  EXPECT_EQ(fake.calls, GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Stations, AvoidUnseenPromptsTest,
    ::testing::Values(
        StationCase{"Visible", 0x1u, {"GetProcessWindowStationFlags"}},
        StationCase{"VisibleWithOtherBits", 0x1001u, {"GetProcessWindowStationFlags"}},
        StationCase{
            "Invisible", 0x0u, {"GetProcessWindowStationFlags", "SetupSetNonInteractiveMode 1"}},
        StationCase{"CannotBeTold",
                    std::nullopt,
                    {"GetProcessWindowStationFlags", "SetupSetNonInteractiveMode 1"}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace

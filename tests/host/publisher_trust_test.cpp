#include "setup/publisher_trust.h"

#include <gtest/gtest.h>

#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;

const char kInf[] = "C:\\QZ\\Drivers\\QZ_UsbToUartDriver.inf";
const std::string kCatalog = "C:\\QZ\\Drivers\\qz_uart.cat";
const std::string kAdded = "INFO: 已将驱动发布者证书添加到受信任的发布者 \n";
const std::string kUnverified = "Warning: 驱动目录文件签名无法验证，Windows 可能拒绝或提示安装 \n";
using Arch = NativeArchitecture;

std::string Read(const std::string& key) {
  return std::string("ReadInfVersionString ") + kInf + " " + key;
}

CatalogFacts Verified() { return VerifiedCatalog(); }

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
  ScratchFolder scratch;
  WriteBytes(scratch.path() / kInf, kTrustInfBytes);
  FakePlatform fake;
  if (!c.catalogName.empty()) fake.infVersion["CatalogFile"] = c.catalogName;
  fake.catalog = c.facts;
  fake.trustedPublisherHasAnswer = c.storeHas;
  fake.addTrustedPublisherError = c.storeAdds != 0 ? 0 : kErrorAccessDenied;
  UseFakePlatform(fake);
  RecordingLog log;

  TrustPackagePublisher(kInf, Arch::kAmd64);

  const Lines lookups = {Read("CatalogFile.NTamd64"), Read("CatalogFile.NT"), Read("CatalogFile")};
  EXPECT_EQ(WithoutVersionQuestions(fake.calls), Join({lookups, c.callsAfterLookup}));
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
        // Hardware-programme signers need not carry the code-signing usage, so the
        // Authenticode policy may refuse them (CERT_E_WRONG_USAGE): Windows judges them itself.
        TrustCase{"HardwareProgrammeSignerRefusedByTheCodeSigningPolicy",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) {
                    f.signerUsages = {"1.3.6.1.4.1.311.10.3.5"};
                    f.trustVerdict = 0x800B0110;
                    f.chainPolicyError = 0x800B0110;
                  }),
                  0,
                  1,
                  {kInspect},
                  {}},
        TrustCase{"HardwareProgrammeSignerWithBadSignature",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) {
                    f.signerUsages = {"1.3.6.1.4.1.311.10.3.5"};
                    f.signatureValid = false;
                  }),
                  0,
                  1,
                  {kInspect},
                  {kUnverified}},
        TrustCase{"SignerIsCertificateAuthority",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) { f.signerIsCa = true; }),
                  0,
                  1,
                  {kInspect},
                  {kUnverified}},
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
        // A signer vouches only for the files its catalog lists, whichever digest it uses.
        TrustCase{"CatalogListsOtherFilesOnly",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) { f.memberIndirectData.pop_back(); }),
                  0,
                  1,
                  {kInspect},
                  {kUnverified}},
        TrustCase{"CatalogListsTheInfBySha1",
                  "qz_uart.cat",
                  VerifiedExcept([](CatalogFacts& f) {
                    f.memberIndirectData.back() = CatalogMember(kTrustInfSha1);
                  }),
                  0,
                  1,
                  {kInspect, "TrustedPublisherHas signer", "AddTrustedPublisher signer"},
                  {kAdded}},
        // The INF's digest as the tag of a member without indirect data is no listing.
        TrustCase{
            "CatalogMemberUnreadable",
            "qz_uart.cat",
            VerifiedExcept([](CatalogFacts& f) { f.memberIndirectData.back() = kTrustInfSha256; }),
            0,
            1,
            {kInspect},
            {kUnverified}},
        // Windows looks beside the INF only: a name that leads elsewhere is a missing catalog.
        TrustCase{
            "NameLeadingElsewhere", "..\\other\\qz_uart.cat", Verified(), 0, 1, {}, {kUnverified}}),
    [](const auto& row) { return std::string(row.param.name); });

// 32-bit XP (5.1) would ask about the driver whoever signed it: the step asks nothing there.
struct VersionCase {
  const char* name;
  std::uint32_t major;
  std::uint32_t minor;
  bool steps;
};

class TrustByVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(TrustByVersionTest, StepsOnlyFromVersion52) {
  const VersionCase& c = GetParam();
  ScratchFolder scratch;
  WriteBytes(scratch.path() / kInf, kTrustInfBytes);
  FakePlatform fake;
  fake.majorVersion = c.major;
  fake.minorVersion = c.minor;
  fake.infVersion["CatalogFile"] = "qz_uart.cat";
  fake.catalog = Verified();
  UseFakePlatform(fake);
  RecordingLog log;

  TrustPackagePublisher(kInf, c.major == 5 && c.minor == 2 ? Arch::kAmd64 : Arch::kX86);

  if (c.steps) {
    EXPECT_EQ(WithoutVersionQuestions(fake.calls).back(), "AddTrustedPublisher signer");
    EXPECT_EQ(log.messages(), Gbk(Lines{kAdded}));
  } else {
    EXPECT_EQ(WithoutVersionQuestions(fake.calls), Lines{});
    EXPECT_EQ(log.messages(), Lines{});
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, TrustByVersionTest,
                         ::testing::Values(VersionCase{"Xp32", 5, 1, false},
                                           VersionCase{"Windows2000", 5, 0, false},
                                           VersionCase{"Xp64AndServer2003", 5, 2, true},
                                           VersionCase{"Vista", 6, 0, true},
                                           VersionCase{"Windows10", 10, 0, true}),
                         [](const auto& row) { return std::string(row.param.name); });

struct NameCase {
  const char* name;
  Arch architecture;
  std::map<std::string, std::string> entries;
  std::string resolved;
  Lines lookups;
};

class ResolveCatalogNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ResolveCatalogNameTest, MostSpecificEntryWins) {
  const NameCase& c = GetParam();
  FakePlatform fake;
  fake.infVersion = c.entries;
  UseFakePlatform(fake);
  EXPECT_EQ(ResolveCatalogName(kInf, c.architecture), c.resolved);
  Lines lookups;
  for (const auto& call : fake.calls) {
    if (call.rfind("ReadInfVersionString ", 0) == 0) lookups.push_back(call);
  }
  EXPECT_EQ(lookups, c.lookups);
}

const std::map<std::string, std::string> kAllEntries = {
    {"CatalogFile", "plain.cat"},       {"CatalogFile.NT", "nt.cat"},
    {"CatalogFile.NTx86", "x86.cat"},   {"CatalogFile.NTamd64", "amd64.cat"},
    {"CatalogFile.NTia64", "ia64.cat"}, {"CatalogFile.NTarm64", "arm64.cat"}};

INSTANTIATE_TEST_SUITE_P(
    Entries, ResolveCatalogNameTest,
    ::testing::Values(
        NameCase{"X64", Arch::kAmd64, kAllEntries, "amd64.cat", {Read("CatalogFile.NTamd64")}},
        NameCase{"X86", Arch::kX86, kAllEntries, "x86.cat", {Read("CatalogFile.NTx86")}},
        NameCase{"Itanium", Arch::kIa64, kAllEntries, "ia64.cat", {Read("CatalogFile.NTia64")}},
        NameCase{"Arm64", Arch::kArm64, kAllEntries, "arm64.cat", {Read("CatalogFile.NTarm64")}},
        NameCase{"OtherArchitectureOnly",
                 Arch::kX86,
                 {{"CatalogFile.NTamd64", "amd64.cat"}, {"CatalogFile.NT", "nt.cat"}},
                 "nt.cat",
                 {Read("CatalogFile.NTx86"), Read("CatalogFile.NT")}},
        NameCase{"PlainOnly",
                 Arch::kAmd64,
                 {{"CatalogFile", "plain.cat"}},
                 "plain.cat",
                 {Read("CatalogFile.NTamd64"), Read("CatalogFile.NT"), Read("CatalogFile")}},
        NameCase{"EmptyEntryNamesNothing",
                 Arch::kAmd64,
                 {{"CatalogFile", ""}},
                 "",
                 {Read("CatalogFile.NTamd64"), Read("CatalogFile.NT"), Read("CatalogFile")}}),
    [](const auto& row) { return std::string(row.param.name); });

// The INF changed after its catalog was signed: the catalog no longer lists it.
TEST(TrustPackagePublisherTest, InfChangedSinceSigningIsNotTrusted) {
  ScratchFolder scratch;
  WriteBytes(scratch.path() / kInf, std::string(kTrustInfBytes) + "; changed\r\n");
  FakePlatform fake;
  fake.infVersion["CatalogFile"] = "qz_uart.cat";
  fake.catalog = Verified();
  UseFakePlatform(fake);
  RecordingLog log;

  TrustPackagePublisher(kInf, Arch::kAmd64);

  EXPECT_FALSE(AnyCallStartsWith(fake.calls, "AddTrustedPublisher"));
  EXPECT_EQ(log.messages(), Gbk(Lines{kUnverified}));
}

struct MemberCase {
  const char* name;
  std::vector<unsigned char> encoded;
  std::vector<unsigned char> digest;
};

class IndirectDataDigestTest : public ::testing::TestWithParam<MemberCase> {};

TEST_P(IndirectDataDigestTest, ReadsTheDigestOrNothing) {
  EXPECT_EQ(IndirectDataDigest(GetParam().encoded), GetParam().digest);
}

std::vector<unsigned char> Cut(std::vector<unsigned char> bytes, std::size_t by) {
  bytes.resize(bytes.size() - by);
  return bytes;
}

// A 200-byte digest needs the long length form at every level.
const std::vector<unsigned char> kLongDigest(200, 0x5A);

INSTANTIATE_TEST_SUITE_P(
    Members, IndirectDataDigestTest,
    ::testing::Values(
        MemberCase{"Sha256", CatalogMember(kTrustInfSha256), kTrustInfSha256},
        MemberCase{"Sha1", CatalogMember(kTrustInfSha1), kTrustInfSha1},
        MemberCase{"LongLengthForm", CatalogMember(kLongDigest), kLongDigest},
        MemberCase{"Empty", {}, {}},
        MemberCase{"CutShort", Cut(CatalogMember(kTrustInfSha256), 1), {}},
        MemberCase{"NotASequence", {0x04, 0x02, 0x01, 0x02}, {}},
        // A length that runs past the end of the encoding.
        MemberCase{"LengthPastTheEnd", {0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF, 0x30, 0x00}, {}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ResolveCatalogNameTest, NameTooLongForTheBufferNamesNothing) {
  FakePlatform fake;
  fake.infVersion["CatalogFile"] = std::string(kPathCapacity, 'x');
  UseFakePlatform(fake);
  EXPECT_EQ(ResolveCatalogName(kInf, Arch::kAmd64), "");
}

}  // namespace

#include "setup/publisher_trust.h"

#include <algorithm>
#include <cstring>

#include "common/file_digest.h"
#include "common/windows_release.h"
#include "log/install_log.h"
#include "log/messages.h"

namespace {

constexpr char kCodeSigningUsage[] = "1.3.6.1.5.5.7.3.3";
// Windows Hardware Driver Verification: the signer is Microsoft's hardware programme.
constexpr char kHardwareProgrammeUsage[] = "1.3.6.1.4.1.311.10.3.5";

bool HasUsage(const CatalogFacts& facts, const char* usage) {
  return std::find(facts.signerUsages.begin(), facts.signerUsages.end(), usage) !=
         facts.signerUsages.end();
}

// Windows looks for the catalog beside the INF and nowhere else; a name that would lead
// elsewhere, or a path that does not fit, counts as a missing catalog.
bool CatalogPathBeside(const char* infPath, const std::string& name, std::string& path) {
  if (name.find_first_of("\\/:") != std::string::npos) {
    return false;
  }
  const char* cut = std::strrchr(infPath, '\\');
  if (cut == nullptr) {
    return false;
  }
  path.assign(infPath, static_cast<std::size_t>(cut - infPath) + 1);
  path += name;
  return path.size() < kPathCapacity;
}

// One DER element: its tag and where its content lies. False when it runs past `end` or uses
// a length form DER does not allow.
struct Element {
  unsigned char tag;
  std::size_t content;
  std::size_t length;
  std::size_t end() const { return content + length; }
};

bool ReadElement(const std::vector<unsigned char>& der, std::size_t at, std::size_t end,
                 Element& element) {
  if (at + 2 > end) {
    return false;
  }
  element.tag = der[at];
  std::size_t length = der[at + 1];
  std::size_t content = at + 2;
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || content + count > end) {
      return false;
    }
    length = 0;
    for (std::size_t i = 0; i < count; ++i) {
      length = (length << 8) | der[content + i];
    }
    content += count;
  }
  if (length > end - content) {
    return false;
  }
  element = {element.tag, content, length};
  return true;
}

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kOctetString = 0x04;

}  // namespace

// SpcIndirectDataContent ::= SEQUENCE { data SEQUENCE, messageDigest DigestInfo }
// DigestInfo ::= SEQUENCE { digestAlgorithm SEQUENCE, digest OCTET STRING }
std::vector<unsigned char> IndirectDataDigest(const std::vector<unsigned char>& encoded) {
  Element content;
  Element data;
  Element digestInfo;
  Element algorithm;
  Element digest;
  if (!ReadElement(encoded, 0, encoded.size(), content) || content.tag != kSequence ||
      !ReadElement(encoded, content.content, content.end(), data) || data.tag != kSequence ||
      !ReadElement(encoded, data.end(), content.end(), digestInfo) || digestInfo.tag != kSequence ||
      !ReadElement(encoded, digestInfo.content, digestInfo.end(), algorithm) ||
      algorithm.tag != kSequence ||
      !ReadElement(encoded, algorithm.end(), digestInfo.end(), digest) ||
      digest.tag != kOctetString) {
    return {};
  }
  const auto first = encoded.begin() + static_cast<std::ptrdiff_t>(digest.content);
  return std::vector<unsigned char>(first, first + static_cast<std::ptrdiff_t>(digest.length));
}

bool CatalogCovers(const CatalogFacts& facts, const std::string& fileBytes) {
  const Digest sha1 = Sha1(fileBytes);
  const Digest sha256 = Sha256(fileBytes);
  for (const std::vector<unsigned char>& member : facts.memberIndirectData) {
    const std::vector<unsigned char> digest = IndirectDataDigest(member);
    if (!digest.empty() && (digest == sha1 || digest == sha256)) {
      return true;
    }
  }
  return false;
}

std::string ResolveCatalogName(const char* infPath, NativeArchitecture architecture) {
  const std::string decorated = std::string("CatalogFile.NT") + InfArchitecture(architecture);
  const char* const keys[] = {decorated.c_str(), "CatalogFile.NT", "CatalogFile"};
  for (const char* key : keys) {
    char value[kPathCapacity] = {};
    if (Platform().ReadInfVersionString(infPath, key, value, kPathCapacity) != 0 &&
        value[0] != '\0') {
      return value;
    }
  }
  return std::string();
}

PublisherTrust DecidePublisherTrust(const CatalogFacts& facts) {
  if (!facts.present || !facts.signedMessage || !facts.signatureValid) {
    return PublisherTrust::kWarn;
  }
  // Windows judges these by the hardware programme's own policy; the Authenticode verdict asks
  // for the code-signing usage, which such a signer need not carry.
  if (HasUsage(facts, kHardwareProgrammeUsage)) {
    return PublisherTrust::kNothingToDo;
  }
  // Trusting a CA as a publisher would trust everything it ever signs.
  if (facts.trustVerdict != 0 || facts.signerIsCa || facts.chainPolicyError != 0 ||
      !(facts.signerAllowsEveryUsage || HasUsage(facts, kCodeSigningUsage))) {
    return PublisherTrust::kWarn;
  }
  return PublisherTrust::kTrustSigner;
}

void TrustPackagePublisher(const char* infPath, NativeArchitecture architecture) {
  // 32-bit XP (5.1) installs a driver signed outside the hardware programme only after its own
  // unsigned-driver question, whoever the publisher: trusting one there changes nothing.
  if (infPath[0] == '\0' || !IsWindowsVersionAtLeast(5, 2, 0)) {
    return;
  }
  const std::string name = ResolveCatalogName(infPath, architecture);
  if (name.empty()) {
    return;
  }
  CatalogFacts facts;
  std::string catalogPath;
  if (CatalogPathBeside(infPath, name, catalogPath)) {
    Platform().InspectCatalog(catalogPath.c_str(), &facts);
  }
  switch (DecidePublisherTrust(facts)) {
    case PublisherTrust::kNothingToDo:
      return;
    case PublisherTrust::kWarn:
      LogInfo(kMsgCatalogUnverified);
      return;
    case PublisherTrust::kTrustSigner:
      break;
  }
  // A signer vouches only for what its catalog lists: one that signed some other package (or
  // this INF before it was changed) must not become trusted through it.
  std::string infBytes;
  if (!ReadWholeFile(infPath, infBytes) || !CatalogCovers(facts, infBytes)) {
    LogInfo(kMsgCatalogUnverified);
    return;
  }
  // Already trusted, or a store that cannot be opened or written: nothing changed, so nothing
  // is reported; staging reports what Windows then does.
  if (Platform().TrustedPublisherHas(facts.signerCertificate) == 0 &&
      Platform().AddTrustedPublisher(facts.signerCertificate) != 0) {
    LogInfo(kMsgPublisherTrusted);
  }
}

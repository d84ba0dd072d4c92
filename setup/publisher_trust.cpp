#include "setup/publisher_trust.h"

#include <algorithm>
#include <cstring>

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

}  // namespace

std::string ResolveCatalogName(const char* infPath) {
  const std::string decorated = std::string("CatalogFile.NT") + NativeInfArchitecture();
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

void TrustPackagePublisher(const char* infPath) {
  // 32-bit XP (5.1) installs a driver signed outside the hardware programme only after its own
  // unsigned-driver question, whoever the publisher: trusting one there changes nothing.
  if (infPath[0] == '\0' || !IsWindowsVersionAtLeast(5, 2, 0)) {
    return;
  }
  const std::string name = ResolveCatalogName(infPath);
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
  // Already trusted, or a store that cannot be opened or written: nothing changed, so nothing
  // is reported; staging reports what Windows then does.
  if (Platform().TrustedPublisherHas(facts.signerCertificate) == 0 &&
      Platform().AddTrustedPublisher(facts.signerCertificate) != 0) {
    LogInfo(kMsgPublisherTrusted);
  }
}

#pragma once

#include <string>
#include <vector>

#include "common/windows_release.h"
#include "platform/platform_ops.h"

// The catalog file that the package INF's [Version] names for this machine: the entry decorated
// for its architecture first, then the one for every NT platform, then the plain one. Empty
// when none names one or the Setup API rejects the INF.
std::string ResolveCatalogName(const char* infPath, NativeArchitecture architecture);

enum class PublisherTrust {
  kNothingToDo,  // signed through Microsoft's hardware programme: Windows installs it silently
  kWarn,         // missing, unsigned, badly signed or not chained to a trusted root
  kTrustSigner,  // verified: its signer may join the machine's trusted publishers
};

PublisherTrust DecidePublisherTrust(const CatalogFacts& facts);

// The digest an SpcIndirectDataContent (DER) carries; empty when it is not one.
std::vector<unsigned char> IndirectDataDigest(const std::vector<unsigned char>& encoded);

// The catalog lists a file of these bytes: one of its members carries their SHA-1 or SHA-256.
bool CatalogCovers(const CatalogFacts& facts, const std::string& fileBytes);

// Before staging: when the package INF names a catalog beside it whose signature verifies and
// which lists the INF as it is, puts
// the signer's own certificate into the local machine's TrustedPublisher store (unless it is
// there), so that Windows stages the package without asking anyone. Writes a record only when
// it added the certificate or could not verify the catalog.
void TrustPackagePublisher(const char* infPath, NativeArchitecture architecture);

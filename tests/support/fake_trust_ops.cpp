// The publisher's trust: the catalog and the Trusted Publishers store.

#include "tests/support/fake_platform_sections.h"

namespace fake_platform {
namespace {

void FakeInspectCatalog(const char* path, CatalogFacts* facts) {
  if (Record(std::string("InspectCatalog ") + path)) {
    *facts = CatalogFacts();
    return;
  }
  *facts = g_fake->catalog;
}

std::string Bytes(const std::vector<unsigned char>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

int FakeTrustedPublisherHas(const std::vector<unsigned char>& certificate) {
  if (Record("TrustedPublisherHas " + Bytes(certificate))) {
    return Fail(-1);
  }
  return g_fake->trustedPublisherHasAnswer;
}

int FakeAddTrustedPublisher(const std::vector<unsigned char>& certificate) {
  if (Record("AddTrustedPublisher " + Bytes(certificate))) {
    return Fail(0);
  }
  return g_fake->addTrustedPublisherError != 0 ? Fail(0, g_fake->addTrustedPublisherError) : 1;
}

}  // namespace

void AddTrustFakes(PlatformOps* ops) {
  ops->InspectCatalog = FakeInspectCatalog;
  ops->TrustedPublisherHas = FakeTrustedPublisherHas;
  ops->AddTrustedPublisher = FakeAddTrustedPublisher;
}

}  // namespace fake_platform

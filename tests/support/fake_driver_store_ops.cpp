// INF files and the driver store.
#include <unistd.h>

#include <cstring>

#include "tests/support/fake_platform_sections.h"

namespace fake_platform {
namespace {

int FakeSetupCopyOEMInfA(const char* sourceInf, const char* mediaLocation, std::uint32_t mediaType,
                         std::uint32_t copyStyle, char* destinationName,
                         std::uint32_t destinationNameSize, std::uint32_t* requiredSize,
                         char** destinationNameComponent) {
  if (Record(std::string("SetupCopyOEMInfA ") + sourceInf +
             " media=" + (mediaLocation == nullptr ? "null" : mediaLocation) +
             " type=" + std::to_string(mediaType) + " style=" + std::to_string(copyStyle) +
             " size=" + std::to_string(destinationNameSize) +
             " required=" + (requiredSize == nullptr ? "null" : "requested") +
             " component=" + (destinationNameComponent == nullptr ? "null" : "requested"))) {
    return Fail(0);
  }
  const bool staged = g_fake->setupCopyError == 0;
  if (staged || g_fake->setupCopyError == 80) {
    const std::string full = "C:\\Windows\\INF\\" + g_fake->stagedInfName;
    std::snprintf(destinationName, destinationNameSize, "%s", full.c_str());
    if (g_fake->setupCopySetsComponent && destinationNameComponent != nullptr) {
      *destinationNameComponent = destinationName + (full.size() - g_fake->stagedInfName.size());
    }
  }
  g_fake->lastError = g_fake->setupCopyError;
  return staged ? 1 : 0;
}

int FakeSetupSetNonInteractiveMode(int nonInteractive) {
  if (Record("SetupSetNonInteractiveMode " + std::to_string(nonInteractive))) {
    return Fail(0);
  }
  return g_fake->hasNonInteractiveMode ? 1 : 0;
}

int FakeReadInfVersionString(const char* infPath, const char* key, char* value,
                             std::uint32_t capacity) {
  if (Record(std::string("ReadInfVersionString ") + infPath + " " + key)) {
    return Fail(0);
  }
  const auto byPath = g_fake->infVersionByPath.find(infPath);
  const auto& entries =
      byPath != g_fake->infVersionByPath.end() ? byPath->second : g_fake->infVersion;
  const auto entry = entries.find(key);
  return entry == entries.end() ? 0 : Answer(entry->second, value, capacity);
}

int FakeReadInfSectionLines(const char* infPath, const char* section, std::vector<InfLine>* lines) {
  if (Record(std::string("ReadInfSectionLines ") + infPath + " [" + section + "]")) {
    return Fail(0);
  }
  const auto entry = g_fake->infSections.find(section);
  if (entry == g_fake->infSections.end()) {
    return 0;
  }
  *lines = entry->second;
  return 1;
}

int FakeQueryInfOriginalFileName(const char* infPath, char* name, std::uint32_t capacity) {
  if (Record(std::string("QueryInfOriginalFileName ") + infPath) || !Exists(infPath)) {
    return Fail(0);
  }
  const auto entry = g_fake->originalNames.find(infPath);
  if (entry != g_fake->originalNames.end()) {
    return Answer(entry->second, name, capacity);
  }
  const char* cut = std::strrchr(infPath, '\\');
  return Answer(cut == nullptr ? infPath : cut + 1, name, capacity);
}

int FakeSetupUninstallOEMInfA(const char* infFileName, std::uint32_t flags) {
  if (Record(std::string("SetupUninstallOEMInfA ") + infFileName +
             " flags=" + std::to_string(flags))) {
    return Fail(0);
  }
  const auto entry = g_fake->uninstalls.find(infFileName);
  const FakePlatform::Uninstall outcome =
      entry != g_fake->uninstalls.end() ? entry->second : FakePlatform::Uninstall{1, 0, true};
  if (outcome.deletes) {
    unlink((g_fake->windowsDirectory + "\\inf\\" + infFileName).c_str());
  }
  g_fake->lastError = outcome.error;
  return outcome.answer;
}

}  // namespace

void AddDriverStoreFakes(PlatformOps* ops) {
  ops->SetupCopyOEMInfA = FakeSetupCopyOEMInfA;
  ops->SetupSetNonInteractiveMode = FakeSetupSetNonInteractiveMode;
  ops->ReadInfVersionString = FakeReadInfVersionString;
  ops->ReadInfSectionLines = FakeReadInfSectionLines;
  ops->QueryInfOriginalFileName = FakeQueryInfOriginalFileName;
  ops->SetupUninstallOEMInfA = FakeSetupUninstallOEMInfA;
}

}  // namespace fake_platform

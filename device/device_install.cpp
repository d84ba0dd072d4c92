#include "device/device_install.h"

#include <algorithm>
#include <optional>
#include <set>

#include "device/models_decoration.h"

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return text;
}

}  // namespace

std::vector<std::string> ModelsSections(const std::vector<InfLine>& manufacturerLines,
                                        const std::string& architecture, const OsVersion& os) {
  std::vector<std::string> sections;
  for (const InfLine& line : manufacturerLines) {
    if (line.size() < 2 || line[1].empty()) {
      continue;
    }
    // One section a manufacturer: the decoration that fits best, the first of equals.
    const std::string* chosen = nullptr;
    std::optional<ModelsDecoration> best;
    for (std::size_t i = 2; i < line.size(); ++i) {
      const std::optional<ModelsDecoration> decoration = ParseModelsDecoration(line[i]);
      if (decoration && DecorationApplies(*decoration, architecture, os) &&
          (!best || FitsBetter(*decoration, *best))) {
        best = decoration;
        chosen = &line[i];
      }
    }
    if (chosen != nullptr) {
      sections.push_back(line[1] + "." + *chosen);
    } else if (Lower(architecture) == "x86") {
      // Only x86 Windows falls back on the undecorated section.
      sections.push_back(line[1]);
    }
  }
  return sections;
}

std::vector<std::string> ModelIds(const std::vector<InfLine>& modelLines) {
  std::vector<std::string> ids;
  std::set<std::string> seen;
  for (const InfLine& line : modelLines) {
    for (std::size_t i = 2; i < line.size(); ++i) {
      if (!line[i].empty() && seen.insert(Lower(line[i])).second) {
        ids.push_back(line[i]);
      }
    }
  }
  return ids;
}

std::vector<std::string> IdsNeedingDriver(const std::vector<std::string>& packageIds,
                                          const std::vector<PresentDeviceFacts>& devices,
                                          const std::string& stagedName) {
  std::vector<std::string> ids;
  std::set<std::string> seen;
  for (const PresentDeviceFacts& device : devices) {
    if (!stagedName.empty() && Lower(device.infPath) == Lower(stagedName)) {
      continue;
    }
    for (const std::string& id : packageIds) {
      const bool carried =
          std::any_of(device.hardwareIds.begin(), device.hardwareIds.end(),
                      [&](const std::string& deviceId) { return Lower(deviceId) == Lower(id); });
      if (carried && seen.insert(Lower(id)).second) {
        ids.push_back(id);
      }
    }
  }
  return ids;
}

namespace {

// The models sections Windows reads for the package on this machine; none when the Setup API
// rejects the INF.
std::vector<std::string> PackageModelsSections(const char* packageInf,
                                               NativeArchitecture architecture,
                                               const OsVersion& os) {
  std::vector<InfLine> manufacturers;
  if (packageInf[0] == '\0' ||
      Platform().ReadInfSectionLines(packageInf, "Manufacturer", &manufacturers) == 0) {
    return {};
  }
  return ModelsSections(manufacturers, InfArchitecture(architecture), os);
}

}  // namespace

std::vector<std::string> PackageHardwareIds(const char* packageInf, NativeArchitecture architecture,
                                            const OsVersion& os) {
  std::vector<InfLine> allModels;
  for (const std::string& section : PackageModelsSections(packageInf, architecture, os)) {
    std::vector<InfLine> models;
    if (Platform().ReadInfSectionLines(packageInf, section.c_str(), &models) != 0) {
      allModels.insert(allModels.end(), models.begin(), models.end());
    }
  }
  return ModelIds(allModels);
}

bool PackageHasModelsFor(const char* packageInf, NativeArchitecture architecture,
                         const OsVersion& os) {
  return !PackageModelsSections(packageInf, architecture, os).empty();
}

std::vector<std::string> DevicesNeedingDriver(const char* packageInf, const char* stagedName,
                                              NativeArchitecture architecture,
                                              const OsVersion& os) {
  const std::vector<std::string> packageIds = PackageHardwareIds(packageInf, architecture, os);
  std::vector<PresentDeviceFacts> devices;
  if (packageIds.empty() || Platform().ListPresentDevices(&devices) == 0) {
    return {};
  }
  return IdsNeedingDriver(packageIds, devices, stagedName);
}

DeviceInstallResult InstallDriverFor(const std::vector<std::string>& ids, const char* packageInf) {
  DeviceInstallResult result;
  for (const std::string& id : ids) {
    int reboot = 0;
    const int done = Platform().UpdateDriverForPlugAndPlayDevicesA(
        id.c_str(), packageInf, kInstallFlagNonInteractive, &reboot);
    const std::uint32_t error = done != 0 ? 0 : Platform().GetLastError();
    if (done != 0) {
      result.installed = true;
      result.rebootNeeded = result.rebootNeeded || reboot != 0;
    } else if (error != kErrorNoMoreItems && error != kErrorNoSuchDevinst && !result.failed) {
      result.failed = true;
      result.error = error;
    }
  }
  return result;
}

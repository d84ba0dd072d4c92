#include "device/device_install.h"

#include <algorithm>
#include <set>

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return text;
}

// "NTamd64.6.1" -> "ntamd64": the platform part of a decoration, version left out.
std::string PlatformOf(const std::string& decoration) {
  return Lower(decoration.substr(0, decoration.find('.')));
}

}  // namespace

std::vector<std::string> ModelsSections(const std::vector<InfLine>& manufacturerLines,
                                        const std::string& architecture) {
  const std::string wanted = "nt" + Lower(architecture);
  std::vector<std::string> sections;
  for (const InfLine& line : manufacturerLines) {
    if (line.size() < 2 || line[1].empty()) {
      continue;
    }
    const std::string& base = line[1];
    std::vector<std::string> forArchitecture;
    std::vector<std::string> forAnyNt;
    for (std::size_t i = 2; i < line.size(); ++i) {
      const std::string platform = PlatformOf(line[i]);
      if (platform == wanted) {
        forArchitecture.push_back(base + "." + line[i]);
      } else if (platform == "nt") {
        forAnyNt.push_back(base + "." + line[i]);
      }
    }
    if (!forArchitecture.empty()) {
      sections.insert(sections.end(), forArchitecture.begin(), forArchitecture.end());
    } else if (!forAnyNt.empty()) {
      sections.insert(sections.end(), forAnyNt.begin(), forAnyNt.end());
    } else if (wanted == "ntx86") {
      // 64-bit Windows ignores undecorated models sections.
      sections.push_back(base);
    }
  }
  return sections;
}

bool NamesModelsFor(const std::vector<InfLine>& manufacturerLines,
                    const std::string& architecture) {
  const std::string wanted = "nt" + Lower(architecture);
  for (const InfLine& line : manufacturerLines) {
    for (std::size_t i = 2; i < line.size(); ++i) {
      if (PlatformOf(line[i]) == wanted) {
        return true;
      }
    }
  }
  return false;
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

std::vector<std::string> PackageHardwareIds(const char* packageInf,
                                            NativeArchitecture architecture) {
  std::vector<InfLine> manufacturers;
  if (packageInf[0] == '\0' ||
      Platform().ReadInfSectionLines(packageInf, "Manufacturer", &manufacturers) == 0) {
    return {};
  }
  std::vector<InfLine> allModels;
  for (const std::string& section : ModelsSections(manufacturers, InfArchitecture(architecture))) {
    std::vector<InfLine> models;
    if (Platform().ReadInfSectionLines(packageInf, section.c_str(), &models) != 0) {
      allModels.insert(allModels.end(), models.begin(), models.end());
    }
  }
  return ModelIds(allModels);
}

bool PackageHasModelsFor(const char* packageInf, NativeArchitecture architecture) {
  std::vector<InfLine> manufacturers;
  return packageInf[0] != '\0' &&
         Platform().ReadInfSectionLines(packageInf, "Manufacturer", &manufacturers) != 0 &&
         NamesModelsFor(manufacturers, InfArchitecture(architecture));
}

std::vector<std::string> DevicesNeedingDriver(const char* packageInf, const char* stagedName,
                                              NativeArchitecture architecture) {
  const std::vector<std::string> packageIds = PackageHardwareIds(packageInf, architecture);
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

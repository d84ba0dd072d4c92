#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/windows_release.h"
#include "platform/platform_ops.h"

// What installing the package onto present devices came to.
struct DeviceInstallResult {
  bool installed = false;     // at least one device got the package's driver
  bool rebootNeeded = false;  // Windows needs a restart to finish
  bool failed = false;        // an install failed; `error` says why (the first failure's)
  std::uint32_t error = 0;
};

// The models sections the [Manufacturer] lines name for `architecture` ("x86", "amd64", "ia64",
// "arm64"): each manufacturer's NT<architecture> sections (any version suffix), else its "NT"
// one, else, on x86 only, its undecorated one.
std::vector<std::string> ModelsSections(const std::vector<InfLine>& manufacturerLines,
                                        const std::string& architecture);

// The hardware and compatible IDs a models section's lines name (their fields 2 and on), each
// once, in order.
std::vector<std::string> ModelIds(const std::vector<InfLine>& modelLines);

// The package's IDs that present devices carry, for every device whose driver does not already
// come from the staged INF; each ID once, in device order.
std::vector<std::string> IdsNeedingDriver(const std::vector<std::string>& packageIds,
                                          const std::vector<PresentDeviceFacts>& devices,
                                          const std::string& stagedName);

// Whether a [Manufacturer] line decorates models for `architecture` by name ("NTarm64.10.0...");
// the plain "NT" decoration does not count.
bool NamesModelsFor(const std::vector<InfLine>& manufacturerLines, const std::string& architecture);

// The IDs the package INF's models name for `architecture`, read with the Setup API's parser;
// none when it rejects the INF.
std::vector<std::string> PackageHardwareIds(const char* packageInf,
                                            NativeArchitecture architecture);

// Whether the package INF's [Manufacturer] names models for `architecture` by name; false when
// the Setup API rejects the INF.
bool PackageHasModelsFor(const char* packageInf, NativeArchitecture architecture);

// Reads the package INF and the present devices: the IDs to install the package for.
std::vector<std::string> DevicesNeedingDriver(const char* packageInf, const char* stagedName,
                                              NativeArchitecture architecture);

// Installs the package for each ID without forcing it: Windows installs only where it ranks
// better than what a device has, and never asks anyone.
DeviceInstallResult InstallDriverFor(const std::vector<std::string>& ids, const char* packageInf);

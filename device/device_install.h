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

// The models sections Windows reads on `architecture` ("x86", "amd64", "ia64", "arm64") at `os`:
// for each [Manufacturer] line, the section of the decoration that fits best, else, on x86 only,
// the undecorated one.
std::vector<std::string> ModelsSections(const std::vector<InfLine>& manufacturerLines,
                                        const std::string& architecture, const OsVersion& os);

// The hardware and compatible IDs a models section's lines name (their fields 2 and on), each
// once, in order.
std::vector<std::string> ModelIds(const std::vector<InfLine>& modelLines);

// The package's IDs that present devices carry, for every device whose driver does not already
// come from the staged INF; each ID once, in device order.
std::vector<std::string> IdsNeedingDriver(const std::vector<std::string>& packageIds,
                                          const std::vector<PresentDeviceFacts>& devices,
                                          const std::string& stagedName);

// The IDs of the models Windows reads in the package INF on this machine, read with the Setup
// API's parser; none when it rejects the INF.
std::vector<std::string> PackageHardwareIds(const char* packageInf, NativeArchitecture architecture,
                                            const OsVersion& os);

// Whether Windows on this machine reads any models section of the package INF; false when the
// Setup API rejects the INF.
bool PackageHasModelsFor(const char* packageInf, NativeArchitecture architecture,
                         const OsVersion& os);

// Reads the package INF and the present devices: the IDs to install the package for.
std::vector<std::string> DevicesNeedingDriver(const char* packageInf, const char* stagedName,
                                              NativeArchitecture architecture, const OsVersion& os);

// Installs the package for each ID without forcing it: Windows installs only where it ranks
// better than what a device has, and never asks anyone.
DeviceInstallResult InstallDriverFor(const std::vector<std::string>& ids, const char* packageInf);

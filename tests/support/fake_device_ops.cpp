// Devices that are present, the driver install onto them, and the helper process.

#include "tests/support/fake_platform_sections.h"

namespace fake_platform {
namespace {

int FakeListPresentDevices(std::vector<PresentDeviceFacts>* devices) {
  if (Record("ListPresentDevices")) {
    return Fail(0);
  }
  if (g_fake->devicesListError != 0) {
    return Fail(0, g_fake->devicesListError);
  }
  *devices = g_fake->devices;
  return 1;
}

int FakeUpdateDriverForPlugAndPlayDevicesA(const char* hardwareId, const char* infPath,
                                           std::uint32_t flags, int* rebootRequired) {
  if (Record(std::string("UpdateDriverForPlugAndPlayDevicesA ") + hardwareId + " " + infPath +
             " flags=" + Hex(flags))) {
    return Fail(0);
  }
  const auto entry = g_fake->driverUpdates.find(hardwareId);
  const FakePlatform::DriverUpdate update = entry != g_fake->driverUpdates.end()
                                                ? entry->second
                                                : FakePlatform::DriverUpdate{1, 0, false};
  *rebootRequired = update.reboot ? 1 : 0;
  g_fake->lastError = update.error;
  return update.answer;
}

int FakeRunProcess(const char* application, const char* commandLine, const char* currentDirectory,
                   std::uint32_t* exitCode) {
  if (Record(std::string("RunProcess ") + application + " | " + commandLine + " | in " +
             currentDirectory)) {
    return Fail(0);
  }
  if (g_fake->processStartError != 0) {
    return Fail(0, g_fake->processStartError);
  }
  *exitCode = g_fake->processExitCode;
  return 1;
}

}  // namespace

void AddDeviceFakes(PlatformOps* ops) {
  ops->ListPresentDevices = FakeListPresentDevices;
  ops->UpdateDriverForPlugAndPlayDevicesA = FakeUpdateDriverForPlugAndPlayDevicesA;
  ops->RunProcess = FakeRunProcess;
}

}  // namespace fake_platform

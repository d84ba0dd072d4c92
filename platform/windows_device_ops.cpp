// Devices that are present, the driver install onto them, and the helper process.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/system_dlls.h"
#include "platform/windows_handle.h"
#include "platform/windows_sections.h"
#include "platform/windows_setup_api.h"

namespace {

std::vector<std::string> HardwareIds(const SetupApiFunctions* api, HDEVINFO set,
                                     SP_DEVINFO_DATA* device) {
  DWORD needed = 0;
  api->SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr, nullptr, 0,
                                         &needed);
  std::vector<BYTE> buffer(needed + 2, 0);  // room for the list's two terminators
  std::vector<std::string> ids;
  if (needed == 0 || !api->SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr,
                                                             buffer.data(), needed, nullptr)) {
    return ids;
  }
  for (const char* id = reinterpret_cast<const char*>(buffer.data()); *id != '\0';
       id += std::strlen(id) + 1) {
    ids.emplace_back(id);
  }
  return ids;
}

std::string DriverInfPath(const SetupApiFunctions* api, HDEVINFO set, SP_DEVINFO_DATA* device) {
  const UniqueRegistryKey key(
      api->SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ));
  if (!key) {
    return std::string();  // no driver yet
  }
  char value[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;
  DWORD type = 0;
  const bool read = ::RegQueryValueExA(key.get(), "InfPath", nullptr, &type,
                                       reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
  return read ? std::string(value) : std::string();
}

int PresentDevices(std::vector<PresentDeviceFacts>* devices) {
  const SetupApiFunctions* api = SetupApi();
  if (api == nullptr) {
    return 0;
  }
  const UniqueDeviceList set(
      api->SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  if (!set) {
    return 0;
  }
  devices->clear();
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; api->SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
    devices->push_back(
        {HardwareIds(api, set.get(), &device), DriverInfPath(api, set.get(), &device)});
  }
  return 1;
}

// Loaded on first use, not imported: a run with no device to install for never loads it.
int UpdateDriver(const char* hardwareId, const char* infPath, std::uint32_t flags,
                 int* rebootRequired) {
  using Fn = BOOL(WINAPI*)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);  // newdev.h is not in every SDK
  const auto fn = SystemDllFunction<Fn>("newdev.dll", "UpdateDriverForPlugAndPlayDevicesA");
  if (fn == nullptr) {
    return 0;  // the load's or the lookup's reason is the call's last error
  }
  BOOL reboot = FALSE;
  const BOOL done = fn(nullptr, hardwareId, infPath, flags, &reboot);
  *rebootRequired = reboot ? 1 : 0;
  return done ? 1 : 0;
}

int RunProcess(const char* application, const char* commandLine, const char* currentDirectory,
               std::uint32_t* exitCode) {
  std::string line = commandLine;  // CreateProcessA may write into it
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!::CreateProcessA(application, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        currentDirectory, &startup, &process)) {
    return 0;
  }
  DWORD code = 0;
  BOOL known = FALSE;
  DWORD error = 0;
  {
    const UniqueKernelObject thread(process.hThread);
    const UniqueKernelObject running(process.hProcess);
    ::WaitForSingleObject(running.get(), INFINITE);
    known = ::GetExitCodeProcess(running.get(), &code);
    error = ::GetLastError();
  }
  if (!known) {
    ::SetLastError(error);  // as GetExitCodeProcess left it, not as closing the handles did
    return 0;
  }
  *exitCode = code;
  return 1;
}

}  // namespace

void AddDeviceOps(PlatformOps* ops) {
  ops->ListPresentDevices = PresentDevices;
  ops->UpdateDriverForPlugAndPlayDevicesA = UpdateDriver;
  ops->RunProcess = RunProcess;
}

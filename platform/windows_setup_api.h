#pragma once

// The Setup API as the driver store's and the devices' operations share it: loaded from the
// system folder on first use, never imported.
#include <windows.h>
// setupapi.h needs the types of windows.h first.
#include <setupapi.h>

#include "platform/windows_handle.h"

inline constexpr char kSetupApiDll[] = "setupapi.dll";

// Every Setup API function the programs need, all of them in XP's setupapi.dll.
struct SetupApiFunctions {
  decltype(&::SetupCopyOEMInfA) SetupCopyOEMInfA;
  decltype(&::SetupOpenInfFileA) SetupOpenInfFileA;
  decltype(&::SetupFindFirstLineA) SetupFindFirstLineA;
  decltype(&::SetupFindNextLine) SetupFindNextLine;
  decltype(&::SetupGetFieldCount) SetupGetFieldCount;
  decltype(&::SetupGetStringFieldA) SetupGetStringFieldA;
  decltype(&::SetupCloseInfFile) SetupCloseInfFile;
  decltype(&::SetupGetInfInformationA) SetupGetInfInformationA;
  decltype(&::SetupQueryInfOriginalFileInformationA) SetupQueryInfOriginalFileInformationA;
  decltype(&::SetupDiGetClassDevsA) SetupDiGetClassDevsA;
  decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo;
  decltype(&::SetupDiGetDeviceRegistryPropertyA) SetupDiGetDeviceRegistryPropertyA;
  decltype(&::SetupDiOpenDevRegKey) SetupDiOpenDevRegKey;
  decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;
};

// Null, with the reason in the last error, when setupapi.dll cannot be loaded from the system
// folder; the call that needed it fails with that reason.
const SetupApiFunctions* SetupApi();

// Handles of the Setup API: they exist only once setupapi.dll was loaded.
void CloseInf(HINF inf);
void DestroyDeviceList(HDEVINFO set);
using UniqueInf = UniqueHandle<HINF, CloseInf, -1>;
using UniqueDeviceList = UniqueHandle<HDEVINFO, DestroyDeviceList, -1>;

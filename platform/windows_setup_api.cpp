#include "platform/windows_setup_api.h"

#include "platform/system_dlls.h"

const SetupApiFunctions* SetupApi() {
  static SetupApiFunctions functions;
  static bool complete = false;
  if (complete) {
    return &functions;
  }
  int missing = 0;
  functions = {QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupCopyOEMInfA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupOpenInfFileA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupFindFirstLineA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupFindNextLine, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupGetFieldCount, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupGetStringFieldA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupCloseInfFile, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupGetInfInformationA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupQueryInfOriginalFileInformationA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupDiGetClassDevsA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupDiEnumDeviceInfo, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupDiGetDeviceRegistryPropertyA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupDiOpenDevRegKey, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupDiDestroyDeviceInfoList, missing)};
  complete = missing == 0;
  return complete ? &functions : nullptr;
}

void CloseInf(HINF inf) { SetupApi()->SetupCloseInfFile(inf); }

void DestroyDeviceList(HDEVINFO set) { SetupApi()->SetupDiDestroyDeviceInfoList(set); }

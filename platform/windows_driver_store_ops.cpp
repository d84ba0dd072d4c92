// INF files and the driver store, through the Setup API.
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

int CopyOemInf(const char* sourceInf, const char* mediaLocation, std::uint32_t mediaType,
               std::uint32_t copyStyle, char* destinationName, std::uint32_t destinationNameSize,
               std::uint32_t* requiredSize, char** destinationNameComponent) {
  const SetupApiFunctions* api = SetupApi();
  if (api == nullptr) {
    return 0;
  }
  DWORD required = 0;
  const BOOL ok = api->SetupCopyOEMInfA(
      sourceInf, mediaLocation, mediaType, copyStyle, destinationName, destinationNameSize,
      requiredSize != nullptr ? &required : nullptr, destinationNameComponent);
  if (requiredSize != nullptr) {
    *requiredSize = required;
  }
  return ok;
}

// Microsoft dates it only as "Windows XP and later": an early XP setupapi.dll may lack it.
int NonInteractiveMode(int nonInteractive) {
  const auto fn = QZ_DLL_FUNCTION(kSetupApiDll, SetupSetNonInteractiveMode);
  if (fn == nullptr) {
    return 0;
  }
  fn(nonInteractive ? TRUE : FALSE);  // answers the previous setting, not success
  return 1;
}

int InfVersionString(const char* infPath, const char* key, char* value, std::uint32_t capacity) {
  const SetupApiFunctions* api = SetupApi();
  if (api == nullptr) {
    return 0;
  }
  const UniqueInf inf(api->SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, nullptr));
  if (!inf) {
    return 0;
  }
  INFCONTEXT line;
  const BOOL found = api->SetupFindFirstLineA(inf.get(), "Version", key, &line) &&
                     api->SetupGetStringFieldA(&line, 1, value, capacity, nullptr);
  return found ? 1 : 0;
}

bool StringField(const SetupApiFunctions* api, INFCONTEXT* line, DWORD index, std::string& field) {
  DWORD needed = 0;
  if (!api->SetupGetStringFieldA(line, index, nullptr, 0, &needed) || needed == 0) {
    return false;
  }
  std::vector<char> buffer(needed);
  if (!api->SetupGetStringFieldA(line, index, buffer.data(), needed, nullptr)) {
    return false;
  }
  field.assign(buffer.data());
  return true;
}

int InfSectionLines(const char* infPath, const char* section, std::vector<InfLine>* lines) {
  const SetupApiFunctions* api = SetupApi();
  if (api == nullptr) {
    return 0;
  }
  const UniqueInf inf(api->SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, nullptr));
  if (!inf) {
    return 0;
  }
  lines->clear();
  INFCONTEXT line;
  bool more = api->SetupFindFirstLineA(inf.get(), section, nullptr, &line) != FALSE;
  const int found = more ? 1 : 0;
  while (more) {
    InfLine fields(1 + api->SetupGetFieldCount(&line));
    for (DWORD i = 0; i < fields.size(); ++i) {
      StringField(api, &line, i, fields[i]);
    }
    lines->push_back(std::move(fields));
    more = api->SetupFindNextLine(&line, &line) != FALSE;
  }
  return found;
}

int InfOriginalName(const char* infPath, char* name, std::uint32_t capacity) {
  const SetupApiFunctions* api = SetupApi();
  if (api == nullptr) {
    return 0;
  }
  DWORD size = 0;
  if (!api->SetupGetInfInformationA(infPath, INFINFO_INF_NAME_IS_ABSOLUTE, nullptr, 0, &size)) {
    return 0;
  }
  std::vector<BYTE> buffer(size);
  auto* information = reinterpret_cast<SP_INF_INFORMATION*>(buffer.data());
  if (!api->SetupGetInfInformationA(infPath, INFINFO_INF_NAME_IS_ABSOLUTE, information, size,
                                    nullptr)) {
    return 0;
  }
  SP_ORIGINAL_FILE_INFO_A original{};
  original.cbSize = sizeof original;
  if (!api->SetupQueryInfOriginalFileInformationA(information, 0, nullptr, &original) ||
      std::strlen(original.OriginalInfName) >= capacity) {
    return 0;
  }
  std::strcpy(name, original.OriginalInfName);
  return 1;
}

// An early XP setupapi.dll may lack it.
int UninstallOemInf(const char* infFileName, std::uint32_t flags) {
  const auto fn = QZ_DLL_FUNCTION(kSetupApiDll, SetupUninstallOEMInfA);
  if (fn == nullptr) {
    return 0;
  }
  return fn(infFileName, flags, nullptr) ? 1 : 0;
}

}  // namespace

void AddDriverStoreOps(PlatformOps* ops) {
  ops->SetupCopyOEMInfA = CopyOemInf;
  ops->SetupSetNonInteractiveMode = NonInteractiveMode;
  ops->ReadInfVersionString = InfVersionString;
  ops->ReadInfSectionLines = InfSectionLines;
  ops->QueryInfOriginalFileName = InfOriginalName;
  ops->SetupUninstallOEMInfA = UninstallOemInf;
}

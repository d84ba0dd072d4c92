#include "platform/windows_installer.h"

#include <windows.h>
// clang-format off: msiquery.h needs msi.h first.
#include <msi.h>
#include <msiquery.h>
// clang-format on

#include "platform/system_dlls.h"

namespace {

constexpr char kMsiDll[] = "msi.dll";

}  // namespace

std::string InstallerProperty(InstallerSession session, const char* name) {
  const auto getProperty = QZ_DLL_FUNCTION(kMsiDll, MsiGetPropertyA);
  if (getProperty == nullptr) {
    return "";
  }
  char empty[1] = "";
  DWORD size = 0;
  if (getProperty(session, name, empty, &size) != ERROR_MORE_DATA) {
    return "";
  }
  std::string data(size + 1, '\0');
  size = static_cast<DWORD>(data.size());
  if (getProperty(session, name, data.data(), &size) != ERROR_SUCCESS) {
    return "";
  }
  data.resize(size);
  return data;
}

void SetInstallerProperty(InstallerSession session, const char* name, const char* value) {
  const auto setProperty = QZ_DLL_FUNCTION(kMsiDll, MsiSetPropertyA);
  if (setProperty != nullptr) {
    setProperty(session, name, value);
  }
}

void InstallerLogLine(InstallerSession session, const std::string& text) {
  const auto createRecord = QZ_DLL_FUNCTION(kMsiDll, MsiCreateRecord);
  const auto setString = QZ_DLL_FUNCTION(kMsiDll, MsiRecordSetStringA);
  const auto processMessage = QZ_DLL_FUNCTION(kMsiDll, MsiProcessMessage);
  const auto closeHandle = QZ_DLL_FUNCTION(kMsiDll, MsiCloseHandle);
  if (createRecord == nullptr || setString == nullptr || processMessage == nullptr ||
      closeHandle == nullptr) {
    return;
  }
  const MSIHANDLE record = createRecord(1);
  if (record == 0) {
    return;
  }
  // Field 0 is the template: "[1]" prints field 1 as it is.
  setString(record, 0, "[1]");
  setString(record, 1, text.c_str());
  processMessage(session, INSTALLMESSAGE_INFO, record);
  closeHandle(record);
}

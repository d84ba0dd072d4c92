#include "platform/system_dlls.h"

#include <cstring>

namespace {

// Where kernel32 has them: Windows 8 on, and Vista/7 with KB2533623.
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

struct LoadedDll {
  const char* name;
  HMODULE module;
};
// The late-loaded DLLs and the program's own few; a program has one thread.
LoadedDll g_loaded[24];

}  // namespace

bool KeepDllSearchInSystemFolder() {
  const HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  const auto setDefault =
      SystemFunction<BOOL(WINAPI*)(DWORD)>(kernel32, "SetDefaultDllDirectories");
  if (setDefault != nullptr && setDefault(kSearchSystem32)) {
    return true;
  }
  // XP SP1 on: an empty string takes the current folder out of the search; the program's own
  // folder stays in it, so every DLL beyond the KnownDLLs is loaded by its full path below.
  const auto setDirectory = SystemFunction<BOOL(WINAPI*)(LPCSTR)>(kernel32, "SetDllDirectoryA");
  if (setDirectory != nullptr) {
    setDirectory("");
  }
  return false;
}

HMODULE SystemDll(const char* name) {
  for (const LoadedDll& loaded : g_loaded) {
    if (loaded.name != nullptr && std::strcmp(loaded.name, name) == 0) {
      return loaded.module;
    }
  }
  char path[MAX_PATH];
  const UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + std::strlen(name) >= MAX_PATH) {
    if (length != 0) ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  path[length] = '\\';
  std::strcpy(path + length + 1, name);
  // With an absolute path this flag makes the DLL's own imports come from its folder too.
  const HMODULE module = ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    return nullptr;  // not cached: the next call tries again and reports its own reason
  }
  for (LoadedDll& slot : g_loaded) {
    if (slot.name == nullptr) {
      slot = {name, module};
      break;
    }
  }
  return module;
}

#include "common/dll_search.h"

#include "platform/late_loaded_dlls.h"
#include "platform/platform_ops.h"

void KeepDllsInSystemFolder() {
  // Loaded even where the search is confined: Wine searches the program's folder first for a
  // system DLL's own late loads whatever SetDefaultDllDirectories says. A DLL this release lacks
  // is simply not loaded.
  Platform().ConfineDllSearch();
  for (const char* name : kLateLoadedSystemDlls) {
    Platform().PreloadSystemDll(name);
  }
}

#pragma once

// System DLLs beyond the programs' static imports (which are all KnownDLLs), loaded only from
// the system folder: the programs run elevated from folders other accounts may write to, and
// Windows would otherwise look in the program's own folder first. Windows build only.
#include <windows.h>

// Before anything could load a DLL: takes the program's own folder (and the current one) out of
// the DLL search for the rest of the process. True where the search is confined to the system
// folder; false where the program's folder stays in it (see late_loaded_dlls.h).
bool KeepDllSearchInSystemFolder();

// The DLL `name` ("setupapi.dll") from the system folder, its own imports resolved from there
// too; loaded once. Null on failure, with the load's reason in the last error.
HMODULE SystemDll(const char* name);

// A function of a loaded module, looked up rather than imported: an import an old release lacks
// (XP, or an early XP update level) would keep the program from starting at all. Null when the
// module is null (its reason already in the last error) or lacks the function.
template <typename Fn>
Fn SystemFunction(HMODULE module, const char* name) {
  if (module == nullptr) {
    return nullptr;
  }
  const FARPROC found = ::GetProcAddress(module, name);
  if (found == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
  }
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(found));
}

// A function of a system DLL loaded from the system folder.
template <typename Fn>
Fn SystemDllFunction(const char* dll, const char* name) {
  return SystemFunction<Fn>(SystemDll(dll), name);
}

// Names a function once for both its type and its exported name, so the two cannot drift apart.
#define QZ_DLL_FUNCTION(dll, function) SystemDllFunction<decltype(&::function)>(dll, #function)

// Counts a function the DLL lacks, so that a table of them is used only when it is whole.
template <typename Fn>
Fn Tally(Fn function, int& missing) {
  missing += function == nullptr ? 1 : 0;
  return function;
}

// One entry of such a table: the member, its function looked up, and counted when missing.
#define QZ_DLL_TABLE_ENTRY(dll, function, missing) \
  .function = Tally(QZ_DLL_FUNCTION(dll, function), missing)

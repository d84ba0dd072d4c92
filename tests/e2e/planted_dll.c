/* A DLL someone else planted beside the programs under a system DLL's name. Loading it is the
 * fault: it leaves "<its own path>.loaded" behind and ends the process with exit code 99. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    lstrcpyA(path + length, ".loaded");
    CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    ExitProcess(99);
  }
  return TRUE;
}

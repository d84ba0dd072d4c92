// The process, the system's folders and release, and what the process runs in.
#include <windows.h>

#include <cstdint>

#include "platform/system_dlls.h"
#include "platform/windows_handle.h"
#include "platform/windows_sections.h"

namespace {

std::uint32_t ModuleFileName(ModuleHandle module, char* buffer, std::uint32_t capacity) {
  return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, capacity);
}

ModuleHandle ModuleHandleW(const wchar_t* name) { return ::GetModuleHandleW(name); }

ModuleHandle ModuleHandleA(const char* name) { return ::GetModuleHandleA(name); }

ProcAddress ProcAddressOf(ModuleHandle module, const char* name) {
  if (module == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<ProcAddress>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void SystemInfoOf(SystemInfo* info) { ::GetSystemInfo(reinterpret_cast<SYSTEM_INFO*>(info)); }

std::uint32_t LastError() { return ::GetLastError(); }

std::uint32_t ProcessId() { return ::GetCurrentProcessId(); }

int CloseHandleOp(SystemHandle handle) { return ::CloseHandle(static_cast<HANDLE>(handle)); }

// Asked in UTF-16 and converted without best-fit characters: a folder the ANSI code page can
// only approximate would name another folder, or none, to every narrow call that follows.
std::uint32_t SystemWindowsDirectory(char* buffer, std::uint32_t capacity) {
  wchar_t wide[MAX_PATH];
  const UINT length = ::GetSystemWindowsDirectoryW(wide, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || capacity == 0) {
    return 0;
  }
  // UTF-8 spells everything, and takes neither the flag nor the question.
  const bool utf8 = ::GetACP() == CP_UTF8;
  BOOL approximated = FALSE;
  const int bytes = ::WideCharToMultiByte(
      CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(length), buffer,
      static_cast<int>(capacity - 1), nullptr, utf8 ? nullptr : &approximated);
  if (bytes <= 0 || approximated) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  buffer[bytes] = '\0';
  return static_cast<std::uint32_t>(bytes);
}

std::uint32_t SystemDirectory(char* buffer, std::uint32_t capacity) {
  const UINT length = ::GetSystemDirectoryA(buffer, capacity);
  return length < capacity ? length : 0;
}

int WindowStationFlags(std::uint32_t* flags) {
  USEROBJECTFLAGS objectFlags;
  DWORD needed = 0;
  if (!::GetUserObjectInformationA(::GetProcessWindowStation(), UOI_FLAGS, &objectFlags,
                                   sizeof objectFlags, &needed)) {
    return 0;
  }
  *flags = objectFlags.dwFlags;
  return 1;
}

int SessionOfProcess(std::uint32_t processId, std::uint32_t* session) {
  DWORD id = 0;
  if (!::ProcessIdToSessionId(processId, &id)) {
    return 0;
  }
  *session = id;
  return 1;
}

int ConfineDllSearch() { return KeepDllSearchInSystemFolder() ? 1 : 0; }

int PreloadSystemDll(const char* name) { return SystemDll(name) != nullptr ? 1 : 0; }

}  // namespace

void AddProcessAndSystemOps(PlatformOps* ops) {
  ops->GetModuleFileNameA = ModuleFileName;
  ops->GetModuleHandleW = ModuleHandleW;
  ops->GetModuleHandleA = ModuleHandleA;
  ops->GetProcAddress = ProcAddressOf;
  ops->GetSystemInfo = SystemInfoOf;
  ops->GetLastError = LastError;
  ops->GetCurrentProcessId = ProcessId;
  ops->CloseHandle = CloseHandleOp;
  ops->GetSystemWindowsDirectory = SystemWindowsDirectory;
  ops->GetSystemDirectoryA = SystemDirectory;
  ops->GetProcessWindowStationFlags = WindowStationFlags;
  ops->ProcessIdToSessionId = SessionOfProcess;
  ops->ConfineDllSearch = ConfineDllSearch;
  ops->PreloadSystemDll = PreloadSystemDll;
}

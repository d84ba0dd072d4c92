#include "platform/windows_platform_ops.h"

#include <windows.h>
// setupapi.h needs the types of windows.h first.
#include <setupapi.h>

static_assert(sizeof(OsVersionInfoEx) == sizeof(RTL_OSVERSIONINFOEXW), "version record layout");
static_assert(offsetof(OsVersionInfoEx, wServicePackMajor) ==
                  offsetof(RTL_OSVERSIONINFOEXW, wServicePackMajor),
              "version record layout");
static_assert(sizeof(SystemInfo) == sizeof(SYSTEM_INFO), "system info layout");
static_assert(offsetof(SystemInfo, wProcessorLevel) == offsetof(SYSTEM_INFO, wProcessorLevel),
              "system info layout");

namespace {

std::uint32_t ModuleFileName(ModuleHandle module, char* buffer, std::uint32_t capacity) {
  return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, capacity);
}

int CopyFileOp(const char* source, const char* destination, int failIfExists) {
  return ::CopyFileA(source, destination, failIfExists);
}

// Looked up, not imported: 32-bit Windows XP's kernel32 does not export it, and an import
// would keep the program from starting there at all.
int EnableFsRedirection(int enable) {
  using Fn = BOOLEAN(WINAPI*)(BOOLEAN);
  static const Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "Wow64EnableWow64FsRedirection")));
  if (fn == nullptr) {
    return 0;
  }
  return fn(enable ? TRUE : FALSE) ? 1 : 0;
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

int CopyOemInf(const char* sourceInf, const char* mediaLocation, std::uint32_t mediaType,
               std::uint32_t copyStyle, char* destinationName, std::uint32_t destinationNameSize,
               std::uint32_t* requiredSize, char** destinationNameComponent) {
  DWORD required = 0;
  const BOOL ok = ::SetupCopyOEMInfA(
      sourceInf, mediaLocation, mediaType, copyStyle, destinationName, destinationNameSize,
      requiredSize != nullptr ? &required : nullptr, destinationNameComponent);
  if (requiredSize != nullptr) {
    *requiredSize = required;
  }
  return ok;
}

std::uint32_t LastError() { return ::GetLastError(); }

int ReplaceFileOp(const char* replaced, const char* replacement, const char* backup) {
  return ::ReplaceFileA(replaced, replacement, backup, 0, nullptr, nullptr);
}

int DirectoryExistsOp(const char* path) {
  const DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

SystemHandle CreateMutexOp(const char* name) {
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // Created by a run under another account (SYSTEM from a deployment tool): its default
    // security may grant others no more than waiting on it, which is all a run needs.
    mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, name);
  }
  return mutex;
}

std::uint32_t WaitOp(SystemHandle handle) {
  return ::WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
}

int ReleaseMutexOp(SystemHandle handle) { return ::ReleaseMutex(static_cast<HANDLE>(handle)); }

int CloseHandleOp(SystemHandle handle) { return ::CloseHandle(static_cast<HANDLE>(handle)); }

std::uint32_t ProcessId() { return ::GetCurrentProcessId(); }

std::uint32_t FileAttributes(const char* path) { return ::GetFileAttributesA(path); }

int SetFileAttributesOp(const char* path, std::uint32_t attributes) {
  return ::SetFileAttributesA(path, attributes);
}

int MoveFileOp(const char* from, const char* to) { return ::MoveFileA(from, to); }

int DeleteFileOp(const char* path) { return ::DeleteFileA(path); }

std::vector<std::string> FindFilesOp(const char* pattern) {
  std::vector<std::string> paths;
  const std::string text(pattern);
  const std::size_t cut = text.find_last_of("\\/");
  const std::string folder = cut == std::string::npos ? std::string() : text.substr(0, cut + 1);
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) {
    return paths;
  }
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      paths.push_back(folder + found.cFileName);
    }
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return paths;
}

const PlatformOps kWindowsOps = {
    ModuleFileName, CopyFileOp,          EnableFsRedirection, ModuleHandleW,
    ModuleHandleA,  ProcAddressOf,       SystemInfoOf,        CopyOemInf,
    LastError,      ReplaceFileOp,       DirectoryExistsOp,   CreateMutexOp,
    WaitOp,         ReleaseMutexOp,      CloseHandleOp,       ProcessId,
    FileAttributes, SetFileAttributesOp, MoveFileOp,          DeleteFileOp,
    FindFilesOp,
};

}  // namespace

const PlatformOps& WindowsPlatformOps() { return kWindowsOps; }

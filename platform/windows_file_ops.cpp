// Files, with the WOW64 redirection switch.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/system_dlls.h"
#include "platform/windows_handle.h"
#include "platform/windows_sections.h"

namespace {

// 32-bit Windows XP's kernel32 does not export it.
int EnableFsRedirection(int enable) {
  using Fn = BOOLEAN(WINAPI*)(BOOLEAN);
  static const Fn fn =
      SystemFunction<Fn>(::GetModuleHandleA("kernel32.dll"), "Wow64EnableWow64FsRedirection");
  if (fn == nullptr) {
    return 0;
  }
  return fn(enable ? TRUE : FALSE) ? 1 : 0;
}

int CopyFileOp(const char* source, const char* destination, int failIfExists) {
  return ::CopyFileA(source, destination, failIfExists);
}

int ReplaceFileOp(const char* replaced, const char* replacement, const char* backup) {
  return ::ReplaceFileA(replaced, replacement, backup, 0, nullptr, nullptr);
}

int MoveFileOp(const char* from, const char* to) { return ::MoveFileA(from, to); }

int DeleteFileOp(const char* path) { return ::DeleteFileA(path); }

std::uint32_t FileAttributes(const char* path) { return ::GetFileAttributesA(path); }

int SetFileAttributesOp(const char* path, std::uint32_t attributes) {
  return ::SetFileAttributesA(path, attributes);
}

std::uint64_t FileWriteTime(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
    return 0;
  }
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

std::vector<std::string> FindFilesOp(const char* pattern) {
  std::vector<std::string> paths;
  const std::string text(pattern);
  const std::size_t cut = text.find_last_of("\\/");
  const std::string folder = cut == std::string::npos ? std::string() : text.substr(0, cut + 1);
  WIN32_FIND_DATAA found;
  const UniqueFind search(::FindFirstFileA(pattern, &found));
  if (!search) {
    return paths;
  }
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      paths.push_back(folder + found.cFileName);
    }
  } while (::FindNextFileA(search.get(), &found));
  return paths;
}

int DirectoryExistsOp(const char* path) {
  const DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Without following a link: a link planted at the log's path is seen on the handle, and the
// log is then not written at all.
SystemHandle OpenLogFileOp(const char* path) {
  const HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

int OpenFileFactsOp(SystemHandle file, OpenFileFacts* facts) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(static_cast<HANDLE>(file), &information)) {
    return 0;
  }
  facts->attributes = information.dwFileAttributes;
  facts->links = information.nNumberOfLinks;
  return 1;
}

std::FILE* AppendStreamOverOp(SystemHandle file) {
  const int descriptor =
      ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_WRONLY | _O_BINARY);
  if (descriptor == -1) {
    ::CloseHandle(static_cast<HANDLE>(file));
    return nullptr;
  }
  std::FILE* stream = ::_fdopen(descriptor, "ab");
  if (stream == nullptr) {
    ::_close(descriptor);  // closes the handle too
  }
  return stream;
}

SystemHandle OpenFileSharingReadOnlyOp(const char* path) {
  const HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

int ReadOpenFileOp(SystemHandle file, std::vector<unsigned char>* bytes) {
  return ReadWholeFile(static_cast<HANDLE>(file), *bytes) ? 1 : 0;
}

}  // namespace

void AddFileOps(PlatformOps* ops) {
  ops->Wow64EnableWow64FsRedirection = EnableFsRedirection;
  ops->CopyFileA = CopyFileOp;
  ops->ReplaceFileA = ReplaceFileOp;
  ops->MoveFileA = MoveFileOp;
  ops->DeleteFileA = DeleteFileOp;
  ops->GetFileAttributesA = FileAttributes;
  ops->SetFileAttributesA = SetFileAttributesOp;
  ops->GetFileWriteTime = FileWriteTime;
  ops->FindFiles = FindFilesOp;
  ops->DirectoryExists = DirectoryExistsOp;
  ops->OpenLogFile = OpenLogFileOp;
  ops->GetOpenFileFacts = OpenFileFactsOp;
  ops->AppendStreamOver = AppendStreamOverOp;
  ops->OpenFileSharingReadOnly = OpenFileSharingReadOnlyOp;
  ops->ReadOpenFile = ReadOpenFileOp;
}

// Files, answered from the script or, where the script says so, from real files.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "tests/support/fake_platform_sections.h"

namespace fake_platform {
namespace {

int CopyRealFile(const char* source, const char* destination, int failIfExists) {
  if (failIfExists != 0 && Exists(destination)) {
    g_fake->lastError = 80;
    return 0;
  }
  std::error_code error;
  if (!Exists(source) ||
      !std::filesystem::copy_file(source, destination,
                                  std::filesystem::copy_options::overwrite_existing, error)) {
    g_fake->lastError = kErrorFileNotFound;
    return 0;
  }
  return 1;
}

int FakeCopyFileA(const char* source, const char* destination, int failIfExists) {
  if (Record(std::string("CopyFileA ") + source + " -> " + destination +
             " fail-if-exists=" + std::to_string(failIfExists))) {
    return Fail(0);
  }
  if (g_fake->copyModelsFiles) {
    return CopyRealFile(source, destination, failIfExists);
  }
  return g_fake->copyError != 0 ? Fail(0, g_fake->copyError) : 1;
}

int FakeWow64EnableWow64FsRedirection(int enable) {
  if (Record("Wow64EnableWow64FsRedirection " + std::to_string(enable))) {
    return Fail(0);
  }
  if (enable == 0 && g_fake->redirectionOffError != 0) {
    return Fail(0, g_fake->redirectionOffError);
  }
  return 1;
}

// Renames a real file, its attribute bits going with it.
bool MoveWithAttributes(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    return false;
  }
  auto& attributes = g_fake->attributes;
  const auto entry = attributes.find(from);
  attributes.erase(to);
  if (entry != attributes.end()) {
    attributes[to] = entry->second;
    attributes.erase(from);
  }
  return true;
}

int FakeReplaceFileA(const char* replaced, const char* replacement, const char* backup) {
  if (Record(std::string("ReplaceFileA ") + replaced + " <- " + replacement +
             " backup=" + (backup == nullptr ? "null" : backup))) {
    return Fail(0);
  }
  // As on Windows and Wine: a read-only file is never replaced.
  const auto entry = g_fake->attributes.find(replaced);
  if (entry != g_fake->attributes.end() && (entry->second & kFileAttributeReadOnly) != 0) {
    g_fake->lastError = 5;
    return 0;
  }
  using Effect = FakePlatform::ReplaceEffect;
  switch (g_fake->replaceEffect) {
    case Effect::kReplaces:
      if (backup != nullptr && !MoveWithAttributes(replaced, backup)) {
        return 0;
      }
      if (!MoveWithAttributes(replacement, replaced)) {
        return 0;
      }
      g_fake->attributes.erase(replaced);
      return 1;
    case Effect::kLeavesBoth:
      break;
    case Effect::kRemovesReplaced:
      std::remove(replaced);
      g_fake->attributes.erase(replaced);
      break;
    case Effect::kMovesReplacedToBackup:
      MoveWithAttributes(replaced, backup);
      break;
  }
  g_fake->lastError = g_fake->replaceError;
  return 0;
}

int FakeDirectoryExists(const char* path) {
  if (Record(std::string("DirectoryExists ") + path)) {
    return Fail(0);
  }
  struct stat status;
  return lstat(path, &status) == 0 && S_ISDIR(status.st_mode) ? 1 : 0;
}

std::FILE* g_logStream = nullptr;

bool g_logIsLink = false;

std::string g_readPath;

SystemHandle FakeOpenLogFile(const char* path) {
  if (Record(std::string("OpenLogFile ") + path)) {
    return Fail<SystemHandle>(nullptr);
  }
  // As Windows does with FILE_FLAG_OPEN_REPARSE_POINT: a link is opened as itself, not followed.
  struct stat status;
  g_logIsLink = lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
  g_logStream = std::fopen(path, "ab");
  if (g_logStream == nullptr) {
    return Fail<SystemHandle>(nullptr);
  }
  ++g_fake->openHandles;
  return &g_logFile;
}

int FakeGetOpenFileFacts(SystemHandle file, OpenFileFacts* facts) {
  struct stat status;
  if (Record("GetOpenFileFacts " + HandleName(file)) || fstat(fileno(g_logStream), &status) != 0) {
    return Fail(0);
  }
  facts->attributes = kFileAttributeArchive | (g_logIsLink ? kFileAttributeReparsePoint : 0) |
                      (S_ISDIR(status.st_mode) ? kFileAttributeDirectory : 0);
  facts->links = static_cast<std::uint32_t>(status.st_nlink);
  return 1;
}

std::FILE* FakeAppendStreamOver(SystemHandle file) {
  const bool fails = Record("AppendStreamOver " + HandleName(file));
  // The stream takes the handle either way.
  --g_fake->openHandles;
  if (fails) {
    std::fclose(g_logStream);
    return Fail<std::FILE*>(nullptr);
  }
  return g_logStream;
}

SystemHandle FakeOpenFileSharingReadOnly(const char* path) {
  if (Record(std::string("OpenFileSharingReadOnly ") + path)) {
    return Fail<SystemHandle>(nullptr);
  }
  if (!Exists(path)) {
    g_fake->lastError = kErrorFileNotFound;
    return nullptr;
  }
  g_readPath = path;
  ++g_fake->openHandles;
  return &g_readFile;
}

int FakeReadOpenFile(SystemHandle file, std::vector<unsigned char>* bytes) {
  if (Record("ReadOpenFile " + HandleName(file))) {
    return Fail(0);
  }
  std::FILE* in = std::fopen(g_readPath.c_str(), "rb");
  if (in == nullptr) {
    return Fail(0);
  }
  bytes->clear();
  int c = 0;
  while ((c = std::fgetc(in)) != EOF) {
    bytes->push_back(static_cast<unsigned char>(c));
  }
  std::fclose(in);
  return 1;
}

std::uint32_t FakeGetFileAttributesA(const char* path) {
  if (Record(std::string("GetFileAttributesA ") + path)) {
    return Fail(kInvalidFileAttributes);
  }
  if (!Exists(path)) {
    return kInvalidFileAttributes;
  }
  const auto entry = g_fake->attributes.find(path);
  return entry == g_fake->attributes.end() ? kFileAttributeArchive : entry->second;
}

int FakeSetFileAttributesA(const char* path, std::uint32_t attributes) {
  if (Record(std::string("SetFileAttributesA ") + path + " " + Hex(attributes))) {
    return Fail(0);
  }
  if (!Exists(path)) {
    return 0;
  }
  // Windows answers "normal" for a file with no bits.
  g_fake->attributes[path] = attributes == 0 ? kFileAttributeNormal : attributes;
  return 1;
}

int FakeMoveFileA(const char* from, const char* to) {
  if (Record(std::string("MoveFileA ") + from + " -> " + to)) {
    return Fail(0);
  }
  if (Exists(to)) {
    return 0;
  }
  return MoveWithAttributes(from, to) ? 1 : 0;
}

int FakeDeleteFileA(const char* path) {
  if (Record(std::string("DeleteFileA ") + path)) {
    return Fail(0);
  }
  const auto entry = g_fake->attributes.find(path);
  if (entry != g_fake->attributes.end() && (entry->second & kFileAttributeReadOnly) != 0) {
    return 0;
  }
  if (unlink(path) != 0) {
    return 0;
  }
  g_fake->attributes.erase(path);
  return 1;
}

// The folder part ends at the last "/" (host paths); a Windows path such as
// "C:\Windows\inf\mdmcpq.inf" is one file name in the current folder.
std::vector<std::string> FakeFindFiles(const char* pattern) {
  if (Record(std::string("FindFiles ") + pattern)) {
    return {};
  }
  const std::string text(pattern);
  const std::size_t cut = text.rfind('/');
  const std::string folder = cut == std::string::npos ? "." : text.substr(0, cut);
  const std::string namePattern = cut == std::string::npos ? text : text.substr(cut + 1);
  std::vector<std::string> paths;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (fnmatch(namePattern.c_str(), entry->d_name, FNM_NOESCAPE) == 0) {
        paths.push_back(cut == std::string::npos ? entry->d_name : folder + "/" + entry->d_name);
      }
    }
    closedir(dir);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::uint64_t FakeGetFileWriteTime(const char* path) {
  struct stat status;
  if (Record(std::string("GetFileWriteTime ") + path) || stat(path, &status) != 0) {
    return Fail<std::uint64_t>(0);
  }
  return static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(status.st_mtim.tv_nsec);
}

}  // namespace

void AddFileFakes(PlatformOps* ops) {
  ops->Wow64EnableWow64FsRedirection = FakeWow64EnableWow64FsRedirection;
  ops->CopyFileA = FakeCopyFileA;
  ops->ReplaceFileA = FakeReplaceFileA;
  ops->MoveFileA = FakeMoveFileA;
  ops->DeleteFileA = FakeDeleteFileA;
  ops->GetFileAttributesA = FakeGetFileAttributesA;
  ops->SetFileAttributesA = FakeSetFileAttributesA;
  ops->GetFileWriteTime = FakeGetFileWriteTime;
  ops->FindFiles = FakeFindFiles;
  ops->DirectoryExists = FakeDirectoryExists;
  ops->OpenLogFile = FakeOpenLogFile;
  ops->GetOpenFileFacts = FakeGetOpenFileFacts;
  ops->AppendStreamOver = FakeAppendStreamOver;
  ops->OpenFileSharingReadOnly = FakeOpenFileSharingReadOnly;
  ops->ReadOpenFile = FakeReadOpenFile;
}

}  // namespace fake_platform

#include "setup/file_swap.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform_ops.h"

namespace {

// This run's own files beside the system's file. The names carry the process id, so no other
// process's edit can touch them, and they sit in the same folder, so every move is a rename.
constexpr char kOwnFileMark[] = ".qzpatch.";

struct EditFiles {
  std::string path;
  std::string temporary;
  std::string backup;
};

EditFiles EditFilesFor(const char* path) {
  const std::string stem =
      std::string(path) + kOwnFileMark + std::to_string(Platform().GetCurrentProcessId());
  return {path, stem + ".tmp", stem + ".bak"};
}

bool Exists(const std::string& path) {
  return Platform().GetFileAttributesA(path.c_str()) != kInvalidFileAttributes;
}

void RemoveIfPresent(const std::string& path) {
  if (Exists(path)) {
    Platform().DeleteFileA(path.c_str());
  }
}

// The backup of the original, as a killed swap leaves it, under the name EditFilesFor gives it.
bool IsBackupName(const std::string& name) {
  const std::string suffix = ".bak";
  return name.size() > suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool WriteWholeFile(const std::string& path, const unsigned char* data, std::size_t size) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    return false;
  }
  bool written = std::fwrite(data, 1, size, out) == size;
  written = std::fflush(out) == 0 && written;
  return std::fclose(out) == 0 && written;
}

bool HoldsExactly(const std::string& path, const unsigned char* data, std::size_t size) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    return false;
  }
  unsigned char chunk[4096];
  std::size_t at = 0;
  bool same = true;
  while (same) {
    const std::size_t count = std::fread(chunk, 1, sizeof chunk, in);
    if (count == 0) {
      break;
    }
    same = count <= size - at && std::memcmp(chunk, data + at, count) == 0;
    at += count;
  }
  same = same && at == size && std::ferror(in) == 0;
  std::fclose(in);
  return same;
}

// Whatever ReplaceFileA answered, leaves a whole file at the system's path and answers whether
// it holds the edited bytes. A partial failure can leave the path empty, with the original
// under the backup name or only the new content under its own; the original goes back first.
// This run's files are removed only once the path holds a file: until then one may be the
// last copy of it.
bool SettleReplace(const EditFiles& files, bool replaced, const unsigned char* data,
                   std::size_t size) {
  if (!Exists(files.path)) {
    const bool restored = (Exists(files.backup) &&
                           Platform().MoveFileA(files.backup.c_str(), files.path.c_str()) != 0) ||
                          (Exists(files.temporary) &&
                           Platform().MoveFileA(files.temporary.c_str(), files.path.c_str()) != 0);
    if (!restored) {
      return false;
    }
    replaced = false;
  }
  const bool edited = replaced || HoldsExactly(files.path, data, size);
  RemoveIfPresent(files.temporary);
  RemoveIfPresent(files.backup);
  return edited;
}

// The bits SetFileAttributesA takes; Windows reads none of them as "normal".
std::uint32_t SettableAttributes(std::uint32_t attributes) {
  const std::uint32_t settable =
      kFileAttributeReadOnly | kFileAttributeHidden | kFileAttributeSystem | kFileAttributeArchive |
      kFileAttributeTemporary | kFileAttributeOffline | kFileAttributeNotContentIndexed;
  const std::uint32_t kept = attributes & settable;
  return kept != 0 ? kept : kFileAttributeNormal;
}

}  // namespace

// Left by a run that died mid-edit. Runs take turns, so none of them belongs to a live run.
void RemoveStaleSwapFiles(const char* path) {
  const std::string pattern = std::string(path) + kOwnFileMark + "*";
  for (const std::string& stale : Platform().FindFiles(pattern.c_str())) {
    Platform().DeleteFileA(stale.c_str());
  }
}

// Writes the new content beside the original and swaps it in, so the system's file is
// either the old one or the new one, never a partial write, and keeps its attribute bits,
// which ReplaceFile does not promise to carry over. True when the new content is in place.
bool ReplaceWholeFile(const char* path, const unsigned char* data, std::size_t size) {
  const EditFiles files = EditFilesFor(path);
  const std::uint32_t attributes = Platform().GetFileAttributesA(path);
  if (!WriteWholeFile(files.temporary, data, size)) {
    // The system's file was not touched; only the partial new content goes.
    RemoveIfPresent(files.temporary);
    return false;
  }
  const bool replaced =
      Platform().ReplaceFileA(path, files.temporary.c_str(), files.backup.c_str()) != 0;
  if (!SettleReplace(files, replaced, data, size)) {
    return false;
  }
  if (attributes != kInvalidFileAttributes) {
    Platform().SetFileAttributesA(path, SettableAttributes(attributes));
  }
  return true;
}

void RestoreInterruptedSwap(const char* path) {
  if (Exists(path)) {
    return;
  }
  const std::string pattern = std::string(path) + kOwnFileMark + "*";
  std::string newest;
  std::uint64_t newestTime = 0;
  for (const std::string& found : Platform().FindFiles(pattern.c_str())) {
    if (!IsBackupName(found)) {
      continue;
    }
    const std::uint64_t written = Platform().GetFileWriteTime(found.c_str());
    if (newest.empty() || written > newestTime) {
      newest = found;
      newestTime = written;
    }
  }
  if (!newest.empty()) {
    Platform().MoveFileA(newest.c_str(), path);
  }
}

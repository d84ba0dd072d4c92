#include "setup/modem_inf_patch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log/install_log.h"
#include "log/messages.h"
#include "platform/platform_ops.h"

namespace {

constexpr char16_t kPatternText[] = u"[FakeModemCopyFileSection]\r\nusbser.sys";
constexpr std::size_t kPatternChars = sizeof kPatternText / sizeof kPatternText[0] - 1;
constexpr std::size_t kPatternBytes = 2 * kPatternChars;
static_assert(kPatternBytes == 76, "pattern is 38 UTF-16 code units");

struct Pattern {
  unsigned char bytes[kPatternBytes];
};

constexpr Pattern MakePattern() {
  Pattern pattern{};
  for (std::size_t i = 0; i < kPatternChars; ++i) {
    pattern.bytes[2 * i] = static_cast<unsigned char>(kPatternText[i] & 0xFF);
    pattern.bytes[2 * i + 1] = static_cast<unsigned char>(kPatternText[i] >> 8);
  }
  return pattern;
}

constexpr Pattern kPattern = MakePattern();

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

// Left by a run that died mid-edit. Runs take turns, so none of them belongs to a live run.
void RemoveStaleFiles(const char* path) {
  const std::string pattern = std::string(path) + kOwnFileMark + "*";
  for (const std::string& stale : Platform().FindFiles(pattern.c_str())) {
    Platform().DeleteFileA(stale.c_str());
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

// The size to read, or -1 when the stream cannot tell it or it does not fit in memory.
long long StreamSize(std::FILE* stream) {
  if (std::fseek(stream, 0, SEEK_END) != 0) {
    return -1;
  }
  const long size = std::ftell(stream);
  if (size < 0 || std::fseek(stream, 0, SEEK_SET) != 0) {
    return -1;
  }
  if (static_cast<unsigned long long>(size) > SIZE_MAX - 2) {
    return -1;
  }
  return size;
}

}  // namespace

std::size_t FindModemPatchOffset(const unsigned char* data, std::size_t size) {
  if (size < kPatternBytes) {
    return size;
  }
  const std::size_t lastStart = size - kPatternBytes;
  std::size_t from = 0;
  while (from <= lastStart) {
    const void* found = std::memchr(data + from, kPattern.bytes[0], lastStart - from + 1);
    if (found == nullptr) {
      break;
    }
    const std::size_t at =
        static_cast<std::size_t>(static_cast<const unsigned char*>(found) - data);
    if (std::memcmp(data + at + 1, kPattern.bytes + 1, kPatternBytes - 1) == 0) {
      return at;
    }
    from = at + 1;
  }
  return size;
}

void RestoreInterruptedEdit(const char* path) {
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

int PatchModemInf(const char* path) {
  std::FILE* stream = std::fopen(path, "rb+");
  if (stream == nullptr) {
    LogInfo(kMsgInfOpenFailed);
    return 0;
  }
  RemoveStaleFiles(path);
  const long long size = StreamSize(stream);
  if (size < 0) {
    std::fclose(stream);
    LogInfo(kMsgInfReadLengthFailed);
    return 0;
  }
  const std::size_t length = static_cast<std::size_t>(size);
  auto* data = static_cast<unsigned char*>(std::malloc(length + 2));
  if (data == nullptr) {
    LogInfo(kMsgInfBufferFailed);
    std::fclose(stream);
    return 0;
  }
  const std::size_t count = std::fread(data, 1, length, stream);
  std::fclose(stream);
  if (count != length) {
    LogInfo(kMsgInfReadLengthFailed);
    std::free(data);
    return 0;
  }

  const std::size_t match = FindModemPatchOffset(data, count);
  if (match == count) {
    LogInfo(kMsgInfNoEditNeeded);
  } else {
    const std::size_t insertAt = match + kModemPatchInsertOffset;
    std::memmove(data + insertAt + 2, data + insertAt, count - insertAt);
    data[insertAt] = 0x3B;
    data[insertAt + 1] = 0x00;
    LogInfo(ReplaceWholeFile(path, data, count + 2) ? kMsgInfEdited : kMsgInfWriteFailed);
  }
  std::free(data);
  return 0;
}

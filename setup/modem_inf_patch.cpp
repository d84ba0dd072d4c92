#include "setup/modem_inf_patch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log/install_log.h"
#include "log/messages.h"
#include "platform/platform_ops.h"
#include "setup/file_swap.h"

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

int PatchModemInf(const char* path) {
  std::FILE* stream = std::fopen(path, "rb+");
  if (stream == nullptr) {
    LogInfo(kMsgInfOpenFailed);
    return 0;
  }
  RemoveStaleSwapFiles(path);
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

#pragma once

#include <cstddef>

// Comments out the first "usbser.sys" line directly under "[FakeModemCopyFileSection]" of a
// UTF-16LE INF file. The file is replaced whole or not at all. Always answers 0.
int PatchModemInf(const char* path);

// Offset of the first occurrence of the UTF-16LE section-plus-file-name pattern, at any byte
// offset, or `size` when there is none.
std::size_t FindModemPatchOffset(const unsigned char* data, std::size_t size);

// Where, relative to a match, the ";" goes: right before "usbser.sys".
constexpr std::size_t kModemPatchInsertOffset = 56;

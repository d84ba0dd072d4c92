#pragma once

// Replacing a system file whole: the new content is written beside it under this run's own
// name and swapped in, so the file is always either the old one or the new one, whatever else
// runs at the same time or however the run dies.
#include <cstddef>

// Puts exactly `data` at `path`, keeping the file's attribute bits. True when the new content
// is in place; on false the path holds the original, whole.
bool ReplaceWholeFile(const char* path, const unsigned char* data, std::size_t size);

// Removes the files a run that died mid-swap left beside `path`. Runs take turns, so none of
// them belongs to a live run.
void RemoveStaleSwapFiles(const char* path);

// When `path` is missing and a killed swap left the original under its backup name, moves the
// newest such backup back to `path`.
void RestoreInterruptedSwap(const char* path);

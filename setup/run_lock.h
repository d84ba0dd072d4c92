#pragma once

#include "platform/platform_ops.h"

// Machine-wide: every run edits the same system files, whichever session or account it is in.
extern const char kRunMutexName[];

struct RunLock {
  SystemHandle mutex;
  bool owned;
};

// Waits, without a time limit, until no other run holds the lock. A run that died holding it
// leaves it abandoned, which counts as taken. When the lock cannot be had at all, the run goes
// on without it.
RunLock TakeRunLock();

void ReleaseRunLock(const RunLock& lock);

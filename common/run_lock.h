#pragma once

#include "platform/platform_ops.h"

// Where the system has no private namespaces (XP): machine-wide, since every run edits the same
// system files, whichever session or account it is in.
extern const char kRunMutexName[];
// From Vista on the mutex lives in a private namespace whose boundary only Administrators can
// enter, so a standard user cannot create it first and keep every later run waiting.
extern const char kRunNamespaceBoundary[];
extern const char kRunNamespaceAlias[];
extern const char kRunNamespacedMutexName[];
// SYSTEM and Administrators only: both a deployment tool's run and an administrator's may take
// it, nobody else may hold it.
extern const char kRunLockSecurity[];

struct RunLock {
  SystemHandle mutex;
  bool owned;
  SystemHandle privateNamespace;
};

// Waits, without a time limit, until no other run holds the lock. A run that died holding it
// leaves it abandoned, which counts as taken. When the lock cannot be had at all, the run goes
// on without it.
RunLock TakeRunLock();

void ReleaseRunLock(const RunLock& lock);

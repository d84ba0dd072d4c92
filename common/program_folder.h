#pragma once

#include "platform/platform_ops.h"

// Where the bundle's programs find what ships beside them, from their own folder.
extern const char kLogSuffix[];
extern const char kPackageInfSuffix[];

// Appends `suffix` only when all of it fits with the terminator; otherwise leaves `buffer`
// untouched and answers false, so no caller ever sees a cut-off path.
bool AppendBounded(char (&buffer)[kPathCapacity], const char* suffix);

// The running program's folder, without a trailing backslash. False when the program's own
// path cannot be had whole (no answer, a cut-off answer, no backslash).
bool ProgramFolder(char (&folder)[kPathCapacity]);

// `folder` + `suffix` in `path`; an empty `path` and false when it does not fit.
bool FolderPlus(char (&path)[kPathCapacity], const char (&folder)[kPathCapacity],
                const char* suffix);

// The system's Windows folder as Windows names it, without a trailing backslash (a drive's root
// folder is answered with one). False, and an empty `folder`, when Windows cannot name it.
bool SystemWindowsFolder(char (&folder)[kPathCapacity]);

#pragma once

#include <string>

#include "common/program_run.h"

// What the system's INF folder says of one INF in it.
struct PublishedInf {
  std::string name;          // its file name there, e.g. "oem12.inf"
  bool sameBytes;            // byte for byte the bundle's package INF
  std::string originalName;  // the name it was staged from; empty when unknown
  std::string provider;      // its [Version] Provider; empty when unknown
};

// This package, any release of it: the bundle's very bytes, or staged from the package INF's
// file name by the same provider. Another maker's INF of that file name is not.
bool IsThisPackage(const PublishedInf& inf, const std::string& ourProvider);

// Whether the driver store holds this release of the package: an INF byte for byte the bundle's.
// An earlier release still staged is not it. False when the package INF cannot be read or the
// store cannot be searched.
bool ThisReleaseStaged(const char* packageInfPath);

// Removes every staged copy of the package from the driver store and reports each. True when
// nothing failed (finding none included). Nothing else on the system is touched.
bool RemoveDriverPackages(const char* packageInfPath);

// The whole removal run. kExitNoLog when the program's own location or its log could not be
// had; then nothing was written and nothing changed.
int RunDriverRemoval();

// The remover's entry: the run, holding the run lock until its log is closed.
int DriverRemoveMain();

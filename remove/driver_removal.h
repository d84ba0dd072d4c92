#pragma once

#include <string>

#include "common/file_digest.h"
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

// Which staged copies of the package a removal takes out.
enum class Releases {
  kEvery,    // every release of it (IsThisPackage): the remover as the bundle runs it
  kThis,     // only this release, the bundle's very bytes: a failed install taken back
  kEarlier,  // every release but this one: an upgrade, once it is committed
};

// How the remover was asked to run: no arguments for every release, as the bundle ships it;
// "/this-release" or "/earlier-releases" from the installer package's actions. False for
// anything else.
bool RemovalFromArguments(int argc, const char* const* argv, Releases* which);

// Whether the driver store holds this release of the package: an INF byte for byte the bundle's.
// An earlier release still staged is not it. False when the package INF cannot be read or the
// store cannot be searched.
bool ThisReleaseStaged(const char* packageInfPath);

// Whether the system's INF folder holds an INF whose SHA-256 is `sha256`.
bool StagedInfWithSha256(const Digest& sha256);

// Removes the staged copies of the package that `which` names and reports each. True when
// nothing failed (finding none included). Nothing else on the system is touched.
bool RemoveDriverPackages(const char* packageInfPath, Releases which);

// The whole removal run. kExitNoLog when the program's own location or its log could not be
// had; then nothing was written and nothing changed.
int RunDriverRemoval(Releases which);

// The remover's entry: the run, holding the run lock until its log is closed. An argument it
// does not know ends it with kExitUnknownArguments before it does or writes anything.
int DriverRemoveMain(int argc, const char* const* argv);
constexpr int kExitUnknownArguments = 87;  // ERROR_INVALID_PARAMETER

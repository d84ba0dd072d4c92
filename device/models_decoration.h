#pragma once

// How Windows picks a manufacturer's models section from the decorations its [Manufacturer] line
// names: NT[Architecture][.[OSMajorVersion][.[OSMinorVersion][.[ProductType][.[SuiteMask]
// [.[BuildNumber]]]]]], each field optional.
#include <cstdint>
#include <optional>
#include <string>

#include "common/windows_release.h"

struct ModelsDecoration {
  std::string architecture;  // lower case; empty: any
  std::optional<std::uint32_t> major;
  std::optional<std::uint32_t> minor;
  std::optional<std::uint32_t> productType;
  std::optional<std::uint32_t> suiteMask;
  std::optional<std::uint32_t> build;
};

// The decoration's fields, letter case ignored; none when Windows would not read it as one (no
// "NT", an unknown architecture, a field that is not a number, too many fields).
std::optional<ModelsDecoration> ParseModelsDecoration(const std::string& text);

// Whether Windows on `architecture` ("x86", "amd64", "ia64", "arm64") at `os` may use the
// section: its architecture (named, except on x86), a version and build no newer than the
// running one, the product type where one is named and every suite it names.
bool DecorationApplies(const ModelsDecoration& decoration, const std::string& architecture,
                       const OsVersion& os);

// Whether `a` fits the running Windows better than `b`, both applying: the higher version first,
// then the decoration that names more of the machine.
bool FitsBetter(const ModelsDecoration& a, const ModelsDecoration& b);

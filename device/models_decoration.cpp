#include "device/models_decoration.h"

#include <tuple>
#include <vector>

namespace {

// Windows 10 1607's parser (build 14310) was the first to read a build number; older ones drop
// a decoration that has one.
constexpr OsVersion kFirstWithBuildNumbers{10, 0, 14310, 0, 0};

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

// A decimal or 0x-prefixed hexadecimal field (lower case here), as the examples write product
// types and suites.
std::optional<std::uint32_t> Number(const std::string& field) {
  const bool hex = field.compare(0, 2, "0x") == 0;
  const std::size_t start = hex ? 2 : 0;
  if (field.size() == start || field.size() - start > (hex ? 8u : 10u)) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (std::size_t i = start; i < field.size(); ++i) {
    const char c = field[i];
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    }
    if (digit < 0) {
      return std::nullopt;
    }
    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
  }
  if (value > 0xFFFFFFFFull) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

bool AtLeast(const OsVersion& os, std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
  return std::tie(os.major, os.minor, os.build) >= std::tie(major, minor, build);
}

auto Rank(const ModelsDecoration& d) {
  return std::make_tuple(d.major.value_or(0), d.minor.value_or(0), d.build.value_or(0),
                         !d.architecture.empty(), d.productType.has_value(),
                         d.suiteMask.has_value());
}

}  // namespace

std::optional<ModelsDecoration> ParseModelsDecoration(const std::string& text) {
  std::vector<std::string> fields(1);
  for (const char c : Lower(text)) {
    if (c == '.') {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  if (fields.size() > 6 || fields[0].compare(0, 2, "nt") != 0) {
    return std::nullopt;
  }
  ModelsDecoration decoration;
  decoration.architecture = fields[0].substr(2);
  static const char* const kArchitectures[] = {"", "x86", "amd64", "ia64", "arm", "arm64"};
  bool known = false;
  for (const char* name : kArchitectures) {
    known = known || decoration.architecture == name;
  }
  if (!known) {
    return std::nullopt;
  }
  std::optional<std::uint32_t>* const slots[] = {&decoration.major, &decoration.minor,
                                                 &decoration.productType, &decoration.suiteMask,
                                                 &decoration.build};
  for (std::size_t i = 1; i < fields.size(); ++i) {
    if (fields[i].empty()) {
      continue;
    }
    *slots[i - 1] = Number(fields[i]);
    if (!*slots[i - 1]) {
      return std::nullopt;
    }
  }
  return decoration;
}

bool DecorationApplies(const ModelsDecoration& decoration, const std::string& architecture,
                       const OsVersion& os) {
  // Since Windows Server 2003 SP1 only x86 reads a section whose architecture is not named.
  const std::string machine = Lower(architecture);
  if (decoration.architecture.empty() ? machine != "x86" : decoration.architecture != machine) {
    return false;
  }
  if (decoration.build && !AtLeast(os, kFirstWithBuildNumbers.major, kFirstWithBuildNumbers.minor,
                                   kFirstWithBuildNumbers.build)) {
    return false;
  }
  const std::uint32_t major = decoration.major.value_or(0);
  const std::uint32_t minor = decoration.minor.value_or(0);
  // A build number counts only against the same major.minor: any later version meets it.
  const std::uint32_t build =
      os.major == major && os.minor == minor ? decoration.build.value_or(0) : 0;
  if (!AtLeast(os, major, minor, build)) {
    return false;
  }
  if (decoration.productType && *decoration.productType != os.productType) {
    return false;
  }
  return !decoration.suiteMask || (os.suiteMask & *decoration.suiteMask) == *decoration.suiteMask;
}

bool FitsBetter(const ModelsDecoration& a, const ModelsDecoration& b) { return Rank(a) > Rank(b); }

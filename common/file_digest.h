#pragma once

#include <cstddef>
#include <string>
#include <vector>

// SHA-1 and SHA-256 of whole files, as catalogs list them and as the set-up program checks the
// helper it starts. Written out here so that no crypto DLL has to be loaded for them.
using Digest = std::vector<unsigned char>;

Digest Sha1(const unsigned char* data, std::size_t size);
Digest Sha256(const unsigned char* data, std::size_t size);

// The whole file through the C library's streams; false when it cannot be read.
bool ReadWholeFile(const char* path, std::string& bytes);

inline Digest Sha1(const std::string& bytes) {
  return Sha1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}
inline Digest Sha256(const std::string& bytes) {
  return Sha256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

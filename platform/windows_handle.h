#pragma once

// Windows build only: a handle that closes itself (its closer and its invalid value belong to
// its type, so no early return can leak one and no call site can close it the wrong way), and
// the whole read of an open file.
#include <windows.h>

#include <cstdint>
#include <vector>

template <typename T, auto Close, std::intptr_t Invalid>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T value) : value_(value) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  T get() const { return value_; }
  // For handles that are pointers to a record (a certificate, a chain).
  T operator->() const { return value_; }
  explicit operator bool() const { return value_ != InvalidValue(); }
  T release() {
    const T value = value_;
    value_ = InvalidValue();
    return value;
  }
  void reset(T value = InvalidValue()) {
    if (*this) {
      Close(value_);
    }
    value_ = value;
  }

 private:
  static T InvalidValue() { return reinterpret_cast<T>(Invalid); }
  T value_ = InvalidValue();
};

// CreateFile's failure is INVALID_HANDLE_VALUE; a process's or thread's is null.
using UniqueFile = UniqueHandle<HANDLE, ::CloseHandle, -1>;
using UniqueKernelObject = UniqueHandle<HANDLE, ::CloseHandle, 0>;
using UniqueFind = UniqueHandle<HANDLE, ::FindClose, -1>;
using UniqueRegistryKey = UniqueHandle<HKEY, ::RegCloseKey, -1>;

// Programs and catalogs are small; nothing these programs read comes near it.
constexpr DWORD kLargestFileRead = 64u << 20;

// The whole of an open file, from its start; false when it cannot be read or is larger.
inline bool ReadWholeFile(HANDLE file, std::vector<unsigned char>& bytes) {
  DWORD high = 0;
  const DWORD size = ::GetFileSize(file, &high);
  if (size == INVALID_FILE_SIZE || high != 0 || size > kLargestFileRead ||
      ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return false;
  }
  bytes.resize(size);
  DWORD count = 0;
  return size == 0 || (::ReadFile(file, bytes.data(), size, &count, nullptr) && count == size);
}

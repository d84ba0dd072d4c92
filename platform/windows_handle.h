#pragma once

// Windows build only: a handle that closes itself. Its closer and its invalid value belong to
// its type, so no early return can leak one and no call site can close it the wrong way.
#include <windows.h>

#include <cstdint>

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

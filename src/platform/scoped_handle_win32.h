#pragma once
// A Windows handle that closes itself, so that no early return leaks one.

#include <windows.h>

#include <utility>

namespace tavrin {

class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Release();
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  /// Both null and INVALID_HANDLE_VALUE mean "no handle" to the APIs we use.
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

  HANDLE Release() { return std::exchange(handle_, nullptr); }

  /// Closes the handle; false when the system reported an error.
  bool Close() {
    if (!valid()) return true;
    return ::CloseHandle(Release()) != 0;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace tavrin

#pragma once
// Files through Windows handles: read from start to end, or created anew
// and written (and then possibly handed to a child as its output).

#include "platform/env.h"
#include "platform/scoped_handle_win32.h"

namespace tavrin {

class Win32ReadableFile final : public ReadableFile {
 public:
  // `last_error` is the Env's, which outlives every file it opens.
  Win32ReadableFile(ScopedHandle handle, int* last_error)
      : handle_(std::move(handle)), last_error_(last_error) {}
  long long Read(char* buffer, std::size_t size) override;

 private:
  ScopedHandle handle_;
  int* last_error_;
};

class Win32OutputFile final : public OutputFile {
 public:
  explicit Win32OutputFile(ScopedHandle handle) : handle_(std::move(handle)) {}
  bool Append(std::string_view data) override;
  bool Close() override;
  bool Sync() override;
  int LastError() const override { return error_; }

  /// The open handle (not inheritable), or null once closed.
  HANDLE handle() const { return handle_.valid() ? handle_.get() : nullptr; }

 private:
  ScopedHandle handle_;
  int error_ = 0;
};

}  // namespace tavrin

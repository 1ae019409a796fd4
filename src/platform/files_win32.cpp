#include "platform/files_win32.h"

#include <algorithm>

namespace tavrin {
namespace {

// ReadFile and WriteFile take a 32-bit count.
constexpr std::size_t kMaxChunk = 1u << 30;

}  // namespace

long long Win32ReadableFile::Read(char* buffer, std::size_t size) {
  DWORD read = 0;
  const auto chunk = static_cast<DWORD>(std::min(size, kMaxChunk));
  if (!::ReadFile(handle_.get(), buffer, chunk, &read, nullptr)) {
    // The writing end of a pipe went away: that is the end of the data.
    const DWORD error = ::GetLastError();
    if (error == ERROR_BROKEN_PIPE) return 0;
    *last_error_ = static_cast<int>(error);
    return -1;
  }
  return read;
}

bool Win32OutputFile::Append(std::string_view data) {
  if (!handle_.valid()) {
    error_ = ERROR_INVALID_HANDLE;
    return false;
  }
  while (!data.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min(data.size(), kMaxChunk));
    if (!::WriteFile(handle_.get(), data.data(), chunk, &written, nullptr)) {
      error_ = static_cast<int>(::GetLastError());
      return false;
    }
    if (written == 0) {
      error_ = ERROR_WRITE_FAULT;
      return false;
    }
    data.remove_prefix(written);
  }
  return true;
}

bool Win32OutputFile::Close() {
  if (handle_.Close()) return true;
  error_ = static_cast<int>(::GetLastError());
  return false;
}

bool Win32OutputFile::Sync() {
  if (!handle_.valid()) {
    error_ = ERROR_INVALID_HANDLE;
    return false;
  }
  if (::FlushFileBuffers(handle_.get())) return true;
  error_ = static_cast<int>(::GetLastError());
  return false;
}

}  // namespace tavrin

// Win32 implementation of Env.

#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/child_process_win32.h"
#include "platform/env.h"
#include "platform/files_win32.h"
#include "platform/scoped_handle_win32.h"
#include "platform/wildcard.h"

namespace tavrin {
namespace {

DateTime FromSystemTime(const SYSTEMTIME& t) {
  return DateTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

class Win32Lock final : public HeldLock {
 public:
  explicit Win32Lock(ScopedHandle handle) : handle_(std::move(handle)) {}

 private:
  ScopedHandle handle_;  // closing the handle unlocks
};

class Win32Env final : public Env {
 public:
  int LastError() const override { return last_error_; }

  std::string ErrorText(int error) const override {
    char* text = nullptr;
    DWORD size = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    if (size == 0 || !text) return "error " + std::to_string(error);
    std::string message(text, size);
    ::LocalFree(text);
    // The system's texts end in a line end (and often a blank).
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' '))
      message.pop_back();
    return message;
  }

  bool ListMatches(const std::string& pattern, std::vector<std::string>* names) override {
    names->clear();
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return Fail();
    // The system also matches 8.3 short names ("audit.sqlbak" is AUDIT~1.SQL
    // to "*.sql"): only names whose long form matches count. The order stays
    // the file system's.
    const std::size_t cut = pattern.find_last_of("\\/:");
    const std::string wildcard = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    do {
      if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0 &&
          WildcardMatch(wildcard, found.cFileName))
        names->emplace_back(found.cFileName);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    if (names->empty()) {
      last_error_ = ERROR_FILE_NOT_FOUND;
      return false;
    }
    return true;
  }

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
    // Others may go on writing the file while we read it.
    ScopedHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) return Fail(), nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file.get(), &info)) return Fail(), nullptr;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      last_error_ = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    return std::make_unique<Win32ReadableFile>(std::move(file));
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override {
    // Not shared: nothing else writes or reads the file while we make it.
    ScopedHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return Fail(), nullptr;
    return std::make_unique<Win32OutputFile>(std::move(file));
  }

  std::unique_ptr<OutputFile> CreateNewOutput(const std::string& path, bool* exists) override {
    // Others may read a log while it grows, as they could always read the
    // log file; no one else writes to it.
    ScopedHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    *exists = !file.valid() && ::GetLastError() == ERROR_FILE_EXISTS;
    if (!file.valid()) return Fail(), nullptr;
    return std::make_unique<Win32OutputFile>(std::move(file));
  }

  std::unique_ptr<OutputFile> OpenForAppending(const std::string& path) override {
    // Others may read it meanwhile; no one else writes to it.
    ScopedHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return Fail(), nullptr;
    // The one writer: every write after this one lands at the end.
    LARGE_INTEGER end = {};
    if (!::SetFilePointerEx(file.get(), end, nullptr, FILE_END)) return Fail(), nullptr;
    return std::make_unique<Win32OutputFile>(std::move(file));
  }

  bool MoveNoReplace(const std::string& from, const std::string& to) override {
    // To another volume the system copies, flushed to disk before the call
    // returns, and then deletes the original.
    if (!::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
      return Fail();
    // It reports success even when that delete failed and the original stayed.
    if (::GetFileAttributesA(from.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    // One more try tells why; the copy is complete, so success ends the move.
    if (::DeleteFileA(from.c_str())) return true;
    Fail();
    // The original stays, so the copy must not: one file, in one place.
    ::DeleteFileA(to.c_str());
    return false;
  }

  bool RenameReplacing(const std::string& from, const std::string& to) override {
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) || Fail();
  }

  bool RemoveFile(const std::string& path) override {
    return ::DeleteFileA(path.c_str()) || Fail();
  }

  bool MakeDirectory(const std::string& path, bool* exists) override {
    bool made = ::CreateDirectoryA(path.c_str(), nullptr);
    *exists = !made && ::GetLastError() == ERROR_ALREADY_EXISTS;
    return made || Fail();
  }

  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, bool* busy) override {
    *busy = false;
    // Others may open, and even delete, the file: only the lock excludes.
    ScopedHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    // A lock file left by an earlier run, now read-only.
    if (!file.valid() && ::GetLastError() == ERROR_ACCESS_DENIED)
      file = ScopedHandle(::CreateFileA(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return Fail(), nullptr;
    OVERLAPPED at{};
    if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &at)) {
      Fail();
      *busy = last_error_ == ERROR_LOCK_VIOLATION || last_error_ == ERROR_SHARING_VIOLATION;
      return nullptr;
    }
    return std::make_unique<Win32Lock>(std::move(file));
  }

  DateTime UtcNow() override {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    return FromSystemTime(now);
  }

  DateTime LocalNow() override {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return FromSystemTime(now);
  }

  std::int64_t CalendarSeconds() override { return std::time(nullptr); }

  bool RunChild(const ChildCommand& command, ChildExit* exit) override {
    return RunChildWin32(command, exit, &last_error_);
  }

  bool RandomBytes(unsigned char* buffer, std::size_t size) override {
    // The system's preferred generator, the one CryptGenRandom draws on too.
    if (::BCryptGenRandom(nullptr, buffer, static_cast<ULONG>(size),
                          BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
      last_error_ = ERROR_GEN_FAILURE;
      return false;
    }
    return true;
  }

  bool ReadOwnVersion(VersionInfo* info) override {
    // The program's own path, in the 270 characters the banner has always read.
    char path[270] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return false;
    std::vector<char> block(size);
    if (!::GetFileVersionInfoA(path, 0, size, block.data())) return false;

    *info = VersionInfo{};
    void* value = nullptr;
    UINT value_size = 0;
    struct Translation {
      WORD language;
      WORD code_page;
    };
    if (::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &value_size) &&
        value_size >= sizeof(Translation)) {
      const auto* first = static_cast<const Translation*>(value);
      char query[64];
      std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\ProductName",
                    static_cast<unsigned>(first->language),
                    static_cast<unsigned>(first->code_page));
      if (::VerQueryValueA(block.data(), query, &value, &value_size) && value_size > 0) {
        const char* name = static_cast<const char*>(value);
        info->product_name.assign(name, ::strnlen(name, value_size));
      }
    }
    if (::VerQueryValueA(block.data(), "\\", &value, &value_size) &&
        value_size >= sizeof(VS_FIXEDFILEINFO)) {
      const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
      info->has_file_version = true;
      info->major = HIWORD(fixed->dwFileVersionMS);
      info->minor = LOWORD(fixed->dwFileVersionMS);
      info->patch = HIWORD(fixed->dwFileVersionLS);
      info->build = LOWORD(fixed->dwFileVersionLS);
    }
    return true;
  }

 private:
  bool Fail() {
    last_error_ = static_cast<int>(::GetLastError());
    return false;
  }

  int last_error_ = 0;
};

}  // namespace

Env* Env::Default() {
  static Win32Env* env = new Win32Env;
  return env;
}

}  // namespace tavrin

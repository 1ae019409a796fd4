// Win32 implementation of Env.

#include <windows.h>
#include <ntsecapi.h>

#include <cstdio>
#include <ctime>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "platform/busy_retry.h"
#include "platform/child_process_win32.h"
#include "platform/env.h"
#include "platform/files_win32.h"
#include "platform/move_by_copy.h"
#include "platform/scoped_handle_win32.h"
#include "platform/wide_text_win32.h"
#include "platform/wildcard.h"

namespace tavrin {
namespace {

// Opens `path` with CreateFileW; INVALID_HANDLE_VALUE, with the last error
// set, when it cannot (a path that is not valid UTF-8 among the reasons).
HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                DWORD disposition, DWORD flags, HANDLE template_file) {
  std::wstring wide;
  if (!WidePath(path, &wide)) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(wide.c_str(), access, share, security, disposition, flags, template_file);
}

// The running program's own path; empty when the system cannot tell.
std::wstring OwnPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return L"";
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return L"";  // longer than any Windows path
    path.resize(path.size() * 2);
  }
}

// Whether a narrow program can take `path` from its command line: the ANSI
// code page holds it and its full form is within the old length limit.
bool NarrowProgramCanTake(const std::wstring& path) {
  std::string ansi;
  if (!WideToAnsi(path, &ansi)) return false;
  const DWORD full = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  return full != 0 && full - 1 < MAX_PATH;
}

// `path` without the prefix that lifts the length limit.
std::wstring WithoutLongPrefix(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (path.starts_with(L"\\\\?\\")) return path.substr(4);
  return path;
}

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
    if (error == kErrorCannotNestJobs)
      return "This system cannot nest jobs, and Tavrin runs in a job: the client cannot be "
             "started in a job of its own (nested jobs need Windows 8 or Server 2012).";
    wchar_t* text = nullptr;
    DWORD size = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (size == 0 || !text) return "error " + std::to_string(error);
    std::string message = WideToUtf8(std::wstring_view(text, size));
    ::LocalFree(text);
    // The system's texts end in a line end (and often a blank).
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' '))
      message.pop_back();
    return message;
  }

  bool ListMatches(const std::string& pattern, std::vector<std::string>* names) override {
    names->clear();
    std::wstring wide;
    if (!WidePath(pattern, &wide)) return Fail();
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(wide.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
      // The directory was searched and holds no match.
      if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
        last_error_ = 0;
        return false;
      }
      return Fail();
    }
    // The system also matches 8.3 short names ("audit.sqlbak" is AUDIT~1.SQL
    // to "*.sql"): only names whose long form matches count. The order stays
    // the file system's.
    const std::size_t cut = pattern.find_last_of("\\/:");
    const std::string wildcard = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    do {
      std::string name = WideToUtf8(found.cFileName);
      if (name != "." && name != ".." && WildcardMatch(wildcard, name))
        names->push_back(std::move(name));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    if (names->empty()) {
      last_error_ = 0;  // searched, and nothing matched
      return false;
    }
    return true;
  }

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
    // Others may go on writing the file while we read it.
    ScopedHandle file(OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) return Fail(), nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file.get(), &info)) return Fail(), nullptr;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      last_error_ = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    return std::make_unique<Win32ReadableFile>(std::move(file), &last_error_);
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override {
    // Not shared: nothing else writes or reads the file while we make it.
    ScopedHandle file(OpenFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return Fail(), nullptr;
    return std::make_unique<Win32OutputFile>(std::move(file));
  }

  std::unique_ptr<OutputFile> CreateNewOutput(const std::string& path, bool* exists) override {
    // Others may read a log while it grows, as they could always read the
    // log file; no one else writes to it.
    ScopedHandle file(OpenFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    *exists = !file.valid() && ::GetLastError() == ERROR_FILE_EXISTS;
    if (!file.valid()) return Fail(), nullptr;
    return std::make_unique<Win32OutputFile>(std::move(file));
  }

  std::unique_ptr<OutputFile> OpenForAppending(const std::string& path) override {
    // Others may read it meanwhile; no one else writes to it.
    ScopedHandle file(OpenFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return Fail(), nullptr;
    // The one writer: every write after this one lands at the end.
    LARGE_INTEGER end = {};
    if (!::SetFilePointerEx(file.get(), end, nullptr, FILE_END)) return Fail(), nullptr;
    return std::make_unique<Win32OutputFile>(std::move(file));
  }

  bool MoveNoReplace(const std::string& from, const std::string& to) override {
    std::wstring wide_from, wide_to;
    if (!WidePath(from, &wide_from) || !WidePath(to, &wide_to)) return Fail();
    if (::MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    if (::GetLastError() != ERROR_NOT_SAME_DEVICE) return Fail();
    // Another volume: the system's own copy (MOVEFILE_COPY_ALLOWED) leaves a
    // partial file under the final name when stopped. The steps of
    // MoveByCopy leave one that a later run can tell. Directories are not
    // copied: the refusal stands.
    const DWORD attributes = ::GetFileAttributesW(wide_from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Fail();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      last_error_ = ERROR_NOT_SAME_DEVICE;
      return false;
    }
    const int error = MoveByCopy(*this, from, to);
    if (error == 0) return true;
    last_error_ = error;
    return false;
  }

  bool SyncEntry(const std::string& path) override {
    // A rename's directory entry reaches the disk with the file's own
    // metadata: flush the file under its new name. MOVEFILE_WRITE_THROUGH
    // promises nothing for a rename.
    ScopedHandle file(OpenFile(path, GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      const DWORD error = ::GetLastError();
      // Removed: nothing names it any more, and nothing is left to flush.
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
      // A read-only file cannot be opened for writing, so not flushed; it
      // counts as a file system that cannot sync.
      if (error == ERROR_ACCESS_DENIED) return true;
      return Fail();
    }
    return ::FlushFileBuffers(file.get()) || Fail();
  }

  bool RenameReplacing(const std::string& from, const std::string& to) override {
    std::wstring wide_from, wide_to;
    if (!WidePath(from, &wide_from) || !WidePath(to, &wide_to)) return Fail();
    // A scanner or a reader that holds either file lets go in a moment.
    return RetryWhileBusy(
        *this,
        [&] {
          return ::MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING) ||
                 Fail();
        },
        {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION});
  }

  bool RemoveFile(const std::string& path) override {
    std::wstring wide;
    if (!WidePath(path, &wide)) return Fail();
    return ::DeleteFileW(wide.c_str()) || Fail();
  }

  bool MakeDirectory(const std::string& path, bool* exists) override {
    *exists = false;
    std::wstring wide;
    if (!WidePath(path, &wide)) return Fail();
    bool made = ::CreateDirectoryW(wide.c_str(), nullptr);
    *exists = !made && ::GetLastError() == ERROR_ALREADY_EXISTS;
    return made || Fail();
  }

  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, LockFailure* failure) override {
    // Others may open the file, but not delete or rename it while it is
    // open here: a new file under its name would let a second run in.
    ScopedHandle file(OpenFile(path, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    // A lock file left by an earlier run, now read-only.
    if (!file.valid() && ::GetLastError() == ERROR_ACCESS_DENIED)
      file = ScopedHandle(OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      Fail();
      // Open already in a way that shuts us out: held, if not by a run.
      *failure = last_error_ == ERROR_SHARING_VIOLATION ? LockFailure::kBusy
                                                        : LockFailure::kCannotOpen;
      return nullptr;
    }
    OVERLAPPED at{};
    if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &at)) {
      Fail();
      *failure = last_error_ == ERROR_LOCK_VIOLATION || last_error_ == ERROR_SHARING_VIOLATION
                     ? LockFailure::kBusy
                     : LockFailure::kCannotLock;
      return nullptr;
    }
    *failure = LockFailure::kNone;
    return std::make_unique<Win32Lock>(std::move(file));
  }

  LockTest TestLock(const std::string& path) override {
    // Shared as a run shares it, so that neither shuts the other out.
    ScopedHandle file(OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return LockTest::kFree;
      last_error_ = static_cast<int>(error);
      // Open already in a way that shuts us out: held, as LockExclusive takes it.
      return error == ERROR_SHARING_VIOLATION ? LockTest::kHeld : LockTest::kUnknown;
    }
    OVERLAPPED at{};
    if (!::LockFileEx(file.get(), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      Fail();
      return last_error_ == ERROR_LOCK_VIOLATION ? LockTest::kHeld : LockTest::kUnknown;
    }
    ::UnlockFileEx(file.get(), 0, 1, 0, &at);
    return LockTest::kFree;
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

  void SleepMilliseconds(int milliseconds) override {
    if (milliseconds > 0) ::Sleep(static_cast<DWORD>(milliseconds));
  }

  bool RunChild(const ChildCommand& command, ChildExit* exit) override {
    return RunChildWin32(command, *this, exit, &last_error_);
  }

  bool RandomBytes(unsigned char* buffer, std::size_t size) override {
    // The generator CryptGenRandom draws on, exported by advapi32.dll, which
    // every Windows system has (bcrypt.dll is missing from some).
    if (!::RtlGenRandom(buffer, static_cast<ULONG>(size))) {
      last_error_ = ERROR_GEN_FAILURE;
      return false;
    }
    return true;
  }

  bool ReadOwnVersion(VersionInfo* info) override {
    std::wstring own;
    if (!WidePath(WideToUtf8(OwnPath()), &own) || own.empty()) return false;
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(own.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<char> block(size);
    if (!::GetFileVersionInfoW(own.c_str(), 0, size, block.data())) return false;

    *info = VersionInfo{};
    void* value = nullptr;
    UINT value_size = 0;
    struct Translation {
      WORD language;
      WORD code_page;
    };
    if (::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &value_size) &&
        value_size >= sizeof(Translation)) {
      const auto* first = static_cast<const Translation*>(value);
      char query[64];
      std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\ProductName",
                    static_cast<unsigned>(first->language),
                    static_cast<unsigned>(first->code_page));
      std::wstring wide_query;
      Utf8ToWide(query, &wide_query);
      // The size of a text value counts characters.
      if (::VerQueryValueW(block.data(), wide_query.c_str(), &value, &value_size) &&
          value_size > 0) {
        const wchar_t* name = static_cast<const wchar_t*>(value);
        info->product_name = WideToUtf8(std::wstring_view(name, ::wcsnlen(name, value_size)));
      }
    }
    if (::VerQueryValueW(block.data(), L"\\", &value, &value_size) &&
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

  std::optional<std::string> Variable(const std::string& name) override {
    std::wstring wide_name;
    if (!Utf8ToWide(name, &wide_name)) return std::nullopt;
    ::SetLastError(ERROR_SUCCESS);
    DWORD size = ::GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0)  // not set, or set and empty
      return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt
                                                        : std::optional<std::string>("");
    // The value may change between the calls: ask until it fits.
    for (;;) {
      std::wstring value(size, L'\0');
      const DWORD n = ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
      if (n == 0) return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt
                                                                    : std::optional<std::string>("");
      if (n < size) {
        value.resize(n);
        return WideToUtf8(value);
      }
      size = n;
    }
  }

  bool ClientPath(const std::string& path, std::string* passable) override {
    std::wstring wide;
    if (!Utf8ToWide(path, &wide)) return false;
    if (NarrowProgramCanTake(wide)) {
      *passable = path;
      return true;
    }
    std::wstring full;
    if (!WidePath(path, &full)) return false;
    const DWORD needed = ::GetShortPathNameW(full.c_str(), nullptr, 0);
    if (needed == 0) return false;
    std::wstring short_form(needed, L'\0');
    const DWORD length = ::GetShortPathNameW(full.c_str(), short_form.data(), needed);
    if (length == 0 || length >= needed) return false;
    short_form.resize(length);
    short_form = WithoutLongPrefix(short_form);
    if (!NarrowProgramCanTake(short_form)) return false;
    *passable = WideToUtf8(short_form);
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

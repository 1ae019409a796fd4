#include "platform/child_process_win32.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files_win32.h"
#include "platform/program_search.h"
#include "platform/scoped_handle_win32.h"
#include "platform/wide_text_win32.h"
#include "platform/windows_command_line.h"

namespace tavrin {
namespace {

std::string DirectoryOf(const std::string& path) {
  std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string OwnDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return "";
    if (n < path.size()) {
      path.resize(n);
      return DirectoryOf(WideToUtf8(path));
    }
    if (path.size() >= 32768) return "";  // longer than any Windows path
    path.resize(path.size() * 2);
  }
}

template <typename Getter>
std::string SystemDirectory(Getter get) {
  wchar_t buffer[MAX_PATH + 1] = {};
  UINT n = get(buffer, static_cast<UINT>(std::size(buffer)));
  return n == 0 || n >= std::size(buffer) ? std::string()
                                          : WideToUtf8(std::wstring_view(buffer, n));
}

// Where CreateProcess looks for a program named without a directory, in its
// order, but without the working directory.
std::vector<std::string> ProgramDirectories(Env& env) {
  std::vector<std::string> directories = {OwnDirectory(), SystemDirectory(::GetSystemDirectoryW)};
  std::string windows = SystemDirectory(::GetWindowsDirectoryW);
  if (!windows.empty()) directories.push_back(windows + "\\System");
  directories.push_back(windows);
  for (std::string& d : SplitSearchPath(env.Variable("PATH").value_or("")))
    directories.push_back(std::move(d));
  return directories;
}

bool IsFile(const std::string& path) {
  std::wstring wide;
  if (!WidePath(path, &wide)) return false;
  DWORD attributes = ::GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Variable names compare without regard to case on Windows. Entries such as
// "=C:=C:\dir" (a drive's current directory) have their name after the "=".
bool NamesVariable(std::string_view entry, std::string_view name) {
  std::size_t end = entry.find('=', 1);
  if (end != name.size()) return false;
  for (std::size_t i = 0; i < end; ++i) {
    if (std::tolower(static_cast<unsigned char>(entry[i])) !=
        std::tolower(static_cast<unsigned char>(name[i])))
      return false;
  }
  return true;
}

// Our environment with the ChildCommand's variables replaced or added, as the block
// CreateProcessW takes: "name=value\0" entries and a closing "\0". False
// when a variable of the command is not valid UTF-8.
bool EnvironmentBlock(const ChildCommand& command, std::wstring* block) {
  block->clear();
  if (wchar_t* strings = ::GetEnvironmentStringsW()) {
    for (const wchar_t* e = strings; *e; e += std::wcslen(e) + 1) {
      std::wstring_view entry(e);
      const std::string name = WideToUtf8(entry.substr(0, entry.find(L'=', 1)));
      bool replaced = false;
      for (const auto& variable : command.environment)
        replaced |= NamesVariable(name + "=", variable.first);
      if (!replaced) block->append(entry).push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(strings);
  }
  for (const auto& [name, value] : command.environment) {
    std::wstring entry;
    if (!Utf8ToWide(name + "=" + value, &entry)) return false;
    block->append(entry).push_back(L'\0');
  }
  block->push_back(L'\0');
  return true;
}

// An inheritable duplicate of one of the handles the child gets; nothing for
// a missing handle (a program started without a console has none).
ScopedHandle InheritableCopy(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return {};
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
    return {};
  return ScopedHandle(copy);
}

// The list of the only handles a child inherits. Without it, every
// inheritable handle of ours would pass to the child, the C runtime's open
// files among them (the log file, say), and stay open as long as it runs.
class InheritedHandles {
 public:
  InheritedHandles() = default;
  ~InheritedHandles() {
    if (initialized_) ::DeleteProcThreadAttributeList(get());
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  bool Init(std::vector<HANDLE> handles) {
    handles_ = std::move(handles);
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    if (!::InitializeProcThreadAttributeList(get(), 1, 0, &size)) return false;
    initialized_ = true;
    return ::UpdateProcThreadAttribute(get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                       handles_.size() * sizeof(HANDLE), nullptr, nullptr) != 0;
  }

  LPPROC_THREAD_ATTRIBUTE_LIST get() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
  }

 private:
  std::vector<HANDLE> handles_;  // read by CreateProcess, so kept until then
  std::vector<char> storage_;
  bool initialized_ = false;
};

// The handle of a file given to the child, or ours when none is given.
bool ChildHandle(OutputFile* file, DWORD ours, HANDLE* handle) {
  if (!file) {
    *handle = ::GetStdHandle(ours);
    return true;
  }
  auto* win32 = dynamic_cast<Win32OutputFile*>(file);
  if (!win32 || !win32->handle()) return false;
  *handle = win32->handle();
  return true;
}

// Writes `text` into the pipe a child reads as its standard input. A child
// that ended without reading it has closed its end (ERROR_NO_DATA or
// ERROR_BROKEN_PIPE): nothing more to do, its exit code tells the rest.
void FeedChild(HANDLE pipe, std::string_view text) {
  while (!text.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
    DWORD written = 0;
    if (!::WriteFile(pipe, text.data(), chunk, &written, nullptr)) return;
    text.remove_prefix(written);
  }
}

// A job that ends every process in it when its last handle closes: ours,
// which nothing inherits, so that the client ends with us however we end.
// Null with the system's error number in `*error` when it cannot be made.
ScopedHandle KillOnCloseJob(DWORD* error) {
  ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job.valid()) {
    *error = ::GetLastError();
    return {};
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
    *error = ::GetLastError();
    return {};
  }
  return job;
}

}  // namespace

bool RunChildWin32(const ChildCommand& command, Env& env, ChildExit* exit, int* error) {
  auto fail = [error](DWORD code) {
    *error = static_cast<int>(code);
    return false;
  };
  std::string command_line;
  if (!BuildWindowsCommandLine(command.argv, &command_line)) return fail(ERROR_INVALID_PARAMETER);
  std::wstring wide_command_line;
  if (!Utf8ToWide(command_line, &wide_command_line)) return fail(ERROR_NO_UNICODE_TRANSLATION);
  // The client reads its input in the ANSI code page, as it always has.
  const std::optional<std::string> input =
      command.stdin_text ? std::optional<std::string>(Utf8ToAnsiText(*command.stdin_text))
                         : std::nullopt;

  // A bare name is searched by us; a path is taken as given.
  std::string application;
  if (IsBareProgramName(command.argv[0])) {
    std::optional<std::string> found = FindProgram(command.argv[0], ProgramDirectories(env), IsFile);
    if (!found) return fail(ERROR_FILE_NOT_FOUND);
    application = *found;
  }

  HANDLE out_handle = nullptr, err_handle = nullptr;
  if (!ChildHandle(command.stdout_file, STD_OUTPUT_HANDLE, &out_handle) ||
      !ChildHandle(command.stderr_file, STD_ERROR_HANDLE, &err_handle))
    return fail(ERROR_INVALID_HANDLE);
  // The child's input: a pipe of ours, or else our own input. Neither pipe
  // end is inheritable; the child gets a copy of the read end through the
  // handle list below, and the write end stays ours alone.
  ScopedHandle input_read, input_write;
  if (input) {
    HANDLE read_end = nullptr, write_end = nullptr;
    // Room for the whole text, so that the write never waits on the child.
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(input->size(), 1 << 20));
    if (!::CreatePipe(&read_end, &write_end, nullptr, size)) return fail(::GetLastError());
    input_read = ScopedHandle(read_end);
    input_write = ScopedHandle(write_end);
  }
  ScopedHandle in =
      InheritableCopy(input ? input_read.get() : ::GetStdHandle(STD_INPUT_HANDLE));
  if (input && !in.valid()) return fail(::GetLastError());
  ScopedHandle out = InheritableCopy(out_handle);
  ScopedHandle err = InheritableCopy(err_handle);

  std::vector<HANDLE> inherited;
  for (const ScopedHandle* h : {&in, &out, &err})
    if (h->valid()) inherited.push_back(h->get());
  InheritedHandles list;
  if (!inherited.empty() && !list.Init(inherited)) return fail(::GetLastError());

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = in.get();
  startup.StartupInfo.hStdOutput = out.get();
  startup.StartupInfo.hStdError = err.get();
  startup.lpAttributeList = inherited.empty() ? nullptr : list.get();

  std::wstring environment;
  if (!command.environment.empty() && !EnvironmentBlock(command, &environment))
    return fail(ERROR_NO_UNICODE_TRANSLATION);
  std::wstring application_wide, directory_wide;
  if (!Utf8ToWide(application, &application_wide) ||
      !Utf8ToWide(command.working_directory, &directory_wide))
    return fail(ERROR_NO_UNICODE_TRANSLATION);

  // Whatever we buffered must reach the console before the child writes.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  DWORD job_error = 0;
  ScopedHandle job = KillOnCloseJob(&job_error);
  if (!job.valid()) return fail(job_error);
  // Suspended until it is in the job, so that not one of its instructions
  // runs outside it.
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(application_wide.empty() ? nullptr : application_wide.c_str(),
                        wide_command_line.data(), nullptr, nullptr,
                        inherited.empty() ? FALSE : TRUE,
                        (inherited.empty() ? 0 : EXTENDED_STARTUPINFO_PRESENT) |
                            CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED,
                        environment.empty() ? nullptr : environment.data(),
                        directory_wide.empty() ? nullptr : directory_wide.c_str(),
                        &startup.StartupInfo, &process))
    return fail(::GetLastError());
  ScopedHandle child(process.hProcess);
  ScopedHandle thread(process.hThread);
  // The child has its own copies now.
  in.Close();
  out.Close();
  err.Close();
  if (!::AssignProcessToJobObject(job.get(), child.get())) {
    // Access is refused when we run in a job of our own and the system
    // cannot nest jobs.
    const DWORD refused = ::GetLastError();
    ::TerminateProcess(child.get(), 1);
    ::WaitForSingleObject(child.get(), INFINITE);
    return fail(refused == ERROR_ACCESS_DENIED ? static_cast<DWORD>(kErrorCannotNestJobs) : refused);
  }
  if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    const DWORD resumed = ::GetLastError();
    ::TerminateProcess(child.get(), 1);
    ::WaitForSingleObject(child.get(), INFINITE);
    return fail(resumed);
  }
  thread.Close();
  input_read.Close();
  if (input) {
    FeedChild(input_write.get(), *input);
    input_write.Close();  // end-of-input for the child
  }

  const DWORD wait = command.timeout_seconds > 0
                         ? static_cast<DWORD>(command.timeout_seconds) * 1000
                         : INFINITE;
  DWORD waited = ::WaitForSingleObject(child.get(), wait);
  if (waited == WAIT_FAILED) return fail(::GetLastError());
  const bool timed_out = waited == WAIT_TIMEOUT;
  if (timed_out) {
    ::TerminateProcess(child.get(), 1);
    if (::WaitForSingleObject(child.get(), INFINITE) == WAIT_FAILED) return fail(::GetLastError());
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(child.get(), &code)) return fail(::GetLastError());
  *exit = ChildExit{false, static_cast<int>(code)};
  exit->timed_out = timed_out;
  return true;
}

}  // namespace tavrin

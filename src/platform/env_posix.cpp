// POSIX implementation of Env.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "platform/env.h"
#include "platform/move_by_copy.h"
#include "platform/path.h"
#include "platform/program_search.h"
#include "platform/version.h"
#include "platform/wildcard.h"

extern char** environ;

namespace tavrin {
namespace {

class PosixReadableFile final : public ReadableFile {
 public:
  // `last_error` is the Env's, which outlives every file it opens.
  PosixReadableFile(int fd, int* last_error) : fd_(fd), last_error_(last_error) {}
  ~PosixReadableFile() override { ::close(fd_); }
  long long Read(char* buffer, std::size_t size) override {
    for (;;) {
      ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      *last_error_ = errno;
      return n;
    }
  }

 private:
  int fd_;
  int* last_error_;
};

class PosixOutputFile final : public OutputFile {
 public:
  explicit PosixOutputFile(int fd) : fd_(fd) {}
  ~PosixOutputFile() override { Close(); }
  bool Append(std::string_view data) override {
    while (!data.empty()) {
      ssize_t n = ::write(fd_, data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        return false;
      }
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  bool Close() override {
    if (fd_ < 0) return true;
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) == 0) return true;
    error_ = errno;
    return false;
  }
  bool Sync() override {
    if (fd_ < 0) {
      error_ = EBADF;
      return false;
    }
    for (;;) {
      if (::fsync(fd_) == 0) return true;
      if (errno != EINTR) break;
    }
    error_ = errno;
    return false;
  }
  int LastError() const override { return error_; }
  int fd() const { return fd_; }

 private:
  int fd_;
  int error_ = 0;
};

class PosixLock final : public HeldLock {
 public:
  PosixLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixLock() override { ::close(fd_); }  // closing the last descriptor unlocks

  bool Intact() override {
    struct stat held {}, named {};
    if (::fstat(fd_, &held) != 0 || held.st_nlink == 0) return false;
    return ::stat(path_.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
           named.st_ino == held.st_ino;
  }

 private:
  int fd_;
  std::string path_;
};

DateTime FromTm(const std::tm& tm) {
  return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

// Builds the child's environment: ours, with the ChildCommand's variables replaced
// or added.
std::vector<std::string> ChildEnvironment(const ChildCommand& command) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string_view entry(*e);
    bool replaced = std::any_of(
        command.environment.begin(), command.environment.end(), [&](const auto& kv) {
          return entry.size() > kv.first.size() &&
                 entry.substr(0, kv.first.size()) == kv.first &&
                 entry[kv.first.size()] == '=';
        });
    if (!replaced) env.emplace_back(entry);
  }
  for (const auto& [name, value] : command.environment) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (auto& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

// A variable of our environment, read where every other look at it reads.
std::optional<std::string> EnvironmentValue(std::string_view name) {
  for (char** e = environ; e && *e; ++e) {
    const std::string_view entry(*e);
    if (entry.size() > name.size() && entry[name.size()] == '=' && entry.starts_with(name))
      return std::string(entry.substr(name.size() + 1));
  }
  return std::nullopt;
}

// The program file for argv[0]: as given when it names a directory, else the
// first executable file of that name in an absolute entry of our search
// path. Unlike execvp, never the working directory: an empty or
// relative entry would let a planted sqlplus there have the password.
std::optional<std::string> ProgramFile(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const std::optional<std::string> search_path = EnvironmentValue("PATH");
  // Without PATH, the C library's own default.
  for (const std::string& directory : SplitPosixSearchPath(search_path.value_or("/bin:/usr/bin"))) {
    std::string candidate = directory;
    if (candidate.back() != '/') candidate.push_back('/');
    candidate += name;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return std::nullopt;
}

// A descriptor closed when it goes out of scope.
class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd() { Close(); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A pipe end moved above the standard descriptors (we may have been started
// with one of them closed), so that binding the child's 0, 1 and 2 can
// neither replace it nor leave it open in the child. Stays close-on-exec.
int AboveStandardDescriptors(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  ::close(fd);
  return moved;
}

// Sends errno through the error pipe and ends the child that could not
// become the client.
[[noreturn]] void ChildFailed(int error_pipe) {
  const int error = errno;
  ssize_t n;
  do {
    n = ::write(error_pipe, &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  ::_exit(127);
}

// What the child of RunChild needs between fork and execve, all made before
// the fork.
struct ChildStart {
  const char* program = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  int standard[3] = {-1, -1, -1};  // bound to 0, 1 and 2; -1: left as ours
  const char* working_directory = nullptr;
  int error_pipe = -1;
  pid_t parent = 0;
  long open_max = 0;
};

// Closes the descriptors from `low` to `high`, both included.
void CloseRange(int low, long high, long open_max) {
  if (low > high) return;
  const unsigned last = high >= static_cast<long>(~0U) ? ~0U : static_cast<unsigned>(high);
  if (::close_range(static_cast<unsigned>(low), last, 0) == 0) return;
  // A kernel without close_range: one by one, as far as descriptors go.
  for (long fd = low; fd <= high && fd < open_max; ++fd) ::close(static_cast<int>(fd));
}

// The child's side of RunChild: binds its standard descriptors, closes the
// rest and runs the client. Only async-signal-safe calls: the parent may
// have other threads, whose locks the fork copied held. Any step that fails
// sends its errno through the error pipe, so that the parent reports the
// client as not started.
[[noreturn]] void BecomeClient(const ChildStart& start) {
  // The client ends with us, however we end: a client left running could
  // open a script that a later run has since rewritten.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) ChildFailed(start.error_pipe);
  // Ended before the line above took effect: no signal will come.
  if (::getppid() != start.parent) ::_exit(127);
  for (int target = STDIN_FILENO; target <= STDERR_FILENO; ++target) {
    const int source = start.standard[target];
    if (source < 0) continue;
    if (source == target) {
      // Already in place: only its close-on-exec flag must go.
      const int flags = ::fcntl(source, F_GETFD);
      if (flags < 0 || ::fcntl(source, F_SETFD, flags & ~FD_CLOEXEC) != 0)
        ChildFailed(start.error_pipe);
    } else if (::dup2(source, target) < 0) {
      ChildFailed(start.error_pipe);
    }
  }
  // The child gets its three standard descriptors and nothing else: the log
  // file and whatever else we hold open stay ours.
  CloseRange(STDERR_FILENO + 1, start.error_pipe - 1, start.open_max);
  CloseRange(start.error_pipe + 1, static_cast<long>(~0U), start.open_max);
  if (start.working_directory && ::chdir(start.working_directory) != 0)
    ChildFailed(start.error_pipe);
  ::execve(start.program, start.argv, start.envp);
  ChildFailed(start.error_pipe);
}

// Writes `text` into the pipe a child reads as its standard input. A child
// that ended without reading it has closed its end: the write fails with
// EPIPE and raises SIGPIPE, which must not end us. So the signal is blocked
// around the write and, when the write raised it, taken back before the
// mask is restored. Either way the child's exit status tells the rest.
void FeedChild(int fd, std::string_view text) {
  sigset_t pipe_signal, before, pending;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
  sigemptyset(&pending);
  ::sigpending(&pending);
  const bool already_pending = sigismember(&pending, SIGPIPE) == 1;
  bool broken = false;
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      broken = errno == EPIPE;
      break;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  if (broken && !already_pending) {
    const timespec now{};
    while (::sigtimedwait(&pipe_signal, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

class PosixEnv final : public Env {
 public:
  int LastError() const override { return last_error_; }

  std::string ErrorText(int error) const override { return std::strerror(error); }

  bool ListMatches(const std::string& pattern,
                   std::vector<std::string>* names) override {
    names->clear();
    std::size_t cut = pattern.rfind(kPathSeparator);
    std::string directory = cut == std::string::npos ? "." : pattern.substr(0, cut);
    if (directory.empty()) directory = std::string(1, kPathSeparator);
    std::string wildcard = cut == std::string::npos ? pattern : pattern.substr(cut + 1);

    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return Fail();
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
      std::string_view name(entry->d_name);
      if (name == "." || name == "..") continue;
      if (WildcardMatch(wildcard, name)) names->emplace_back(name);
    }
    ::closedir(dir);
    if (names->empty()) {
      last_error_ = 0;  // searched, and nothing matched
      return false;
    }
    // Byte order, so that runs are reproducible whatever the file system.
    std::sort(names->begin(), names->end());
    return true;
  }

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(), nullptr;
    struct stat st;
    // st holds nothing when fstat fails: its errno is the reason then.
    if (::fstat(fd, &st) != 0) {
      Fail();
      ::close(fd);
      return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
      last_error_ = EISDIR;
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixReadableFile>(fd, &last_error_);
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return Fail(), nullptr;
    return std::make_unique<PosixOutputFile>(fd);
  }

  std::unique_ptr<OutputFile> CreateNewOutput(const std::string& path, bool* exists) override {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    *exists = fd < 0 && errno == EEXIST;
    if (fd < 0) return Fail(), nullptr;
    return std::make_unique<PosixOutputFile>(fd);
  }

  std::unique_ptr<OutputFile> OpenForAppending(const std::string& path) override {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return Fail(), nullptr;
    return std::make_unique<PosixOutputFile>(fd);
  }

  bool MoveNoReplace(const std::string& from, const std::string& to) override {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
      return true;
    if (errno == EXDEV) return MoveAcross(from, to);
    if (errno != EINVAL && errno != ENOSYS) return Fail();
    // The file system cannot rename atomically without replacing: check first.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
      last_error_ = EEXIST;
      return false;
    }
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    return errno == EXDEV ? MoveAcross(from, to) : Fail();
  }

  bool SyncEntry(const std::string& path) override {
    const std::string::size_type cut = path.rfind('/');
    const std::string directory =
        cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail();
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    const int error = errno;
    ::close(fd);
    if (synced) return true;
    last_error_ = error;
    return false;
  }

  bool RenameReplacing(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 || Fail();
  }

  bool RemoveFile(const std::string& path) override {
    return ::unlink(path.c_str()) == 0 || Fail();
  }

  bool MakeDirectory(const std::string& path, bool* exists) override {
    bool made = ::mkdir(path.c_str(), 0777) == 0;
    *exists = !made && errno == EEXIST;
    return made || Fail();
  }

  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, LockFailure* failure) override {
    *failure = LockFailure::kCannotOpen;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    // A lock file left by an earlier run in a directory now read-only.
    if (fd < 0 && (errno == EACCES || errno == EROFS))
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(), nullptr;
    // flock, not fcntl: its lock belongs to this open file, so no other
    // descriptor of ours (a child's, a test's) can release it by closing.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      *failure = errno == EWOULDBLOCK ? LockFailure::kBusy : LockFailure::kCannotLock;
      Fail();
      ::close(fd);
      return nullptr;
    }
    *failure = LockFailure::kNone;
    return std::make_unique<PosixLock>(fd, path);
  }

  LockTest TestLock(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? LockTest::kFree : (Fail(), LockTest::kUnknown);
    LockTest result = LockTest::kFree;
    while (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      result = errno == EWOULDBLOCK ? LockTest::kHeld : (Fail(), LockTest::kUnknown);
      break;
    }
    if (result == LockTest::kFree) ::flock(fd, LOCK_UN);
    ::close(fd);
    return result;
  }

  DateTime UtcNow() override {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    return FromTm(tm);
  }

  DateTime LocalNow() override {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return FromTm(tm);
  }

  std::int64_t CalendarSeconds() override { return std::time(nullptr); }

  void SleepMilliseconds(int milliseconds) override {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  bool RunChild(const ChildCommand& command, ChildExit* exit) override {
    if (command.argv.empty()) {
      last_error_ = EINVAL;
      return false;
    }
    const std::optional<std::string> program = ProgramFile(command.argv[0]);
    if (!program) {
      last_error_ = ENOENT;
      return false;
    }
    // Our ends of the input pipe: the child's (read) end is closed here once
    // the child has its copy, ours (write) once the text is in.
    ScopedFd input_read, input_write;
    if (command.stdin_text) {
      int ends[2];
      if (::pipe2(ends, O_CLOEXEC) != 0) return Fail();
      input_read.Reset(AboveStandardDescriptors(ends[0]));
      input_write.Reset(AboveStandardDescriptors(ends[1]));
      if (input_read.get() < 0 || input_write.get() < 0) return Fail();
    }
    // The child tells through this pipe why it could not become the client;
    // a successful execve closes it unwritten.
    ScopedFd error_read, error_write;
    {
      int ends[2];
      if (::pipe2(ends, O_CLOEXEC) != 0) return Fail();
      error_read.Reset(AboveStandardDescriptors(ends[0]));
      error_write.Reset(AboveStandardDescriptors(ends[1]));
      if (error_read.get() < 0 || error_write.get() < 0) return Fail();
    }

    // Everything the child needs is made here: between fork and execve it
    // may not allocate.
    ChildStart start;
    start.program = program->c_str();
    std::vector<std::string> args = command.argv;
    std::vector<std::string> env = ChildEnvironment(command);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    start.argv = argv.data();
    start.envp = envp.data();
    start.standard[STDIN_FILENO] = input_read.get();
    // The files are bound to the child only; our own descriptors stay as they are.
    if (auto* out = static_cast<PosixOutputFile*>(command.stdout_file))
      start.standard[STDOUT_FILENO] = out->fd();
    if (auto* err = static_cast<PosixOutputFile*>(command.stderr_file))
      start.standard[STDERR_FILENO] = err->fd();
    if (!command.working_directory.empty())
      start.working_directory = command.working_directory.c_str();
    start.error_pipe = error_write.get();
    start.parent = ::getpid();
    start.open_max = ::sysconf(_SC_OPEN_MAX);

    // Whatever we buffered must reach the console before the child writes.
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0) return Fail();
    if (pid == 0) BecomeClient(start);
    error_write.Close();
    int child_error = 0;
    ssize_t got;
    while ((got = ::read(error_read.get(), &child_error, sizeof child_error)) < 0 &&
           errno == EINTR) {
    }
    error_read.Close();
    if (got != 0) {
      // The client never ran: its exit status says nothing worth keeping.
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      last_error_ = got == static_cast<ssize_t>(sizeof child_error) ? child_error : EIO;
      return false;
    }
    input_read.Close();
    if (command.stdin_text) {
      FeedChild(input_write.get(), *command.stdin_text);
      input_write.Close();  // end-of-input for the child
    }
    int status = 0;
    bool timed_out = false;
    std::mutex mutex;
    std::condition_variable ended;
    bool exited = false;
    std::thread watchdog;
    if (command.timeout_seconds > 0) {
      // Kills a child past its time. The child is only seen to end here, not
      // reaped, so its process id cannot go to another process before the
      // watchdog has stood down.
      watchdog = std::thread([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!ended.wait_for(lock, std::chrono::seconds(command.timeout_seconds),
                            [&] { return exited; })) {
          timed_out = true;
          ::kill(pid, SIGKILL);
        }
      });
      siginfo_t info{};
      while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 &&
             errno == EINTR) {
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        exited = true;
      }
      ended.notify_all();
      watchdog.join();
    }
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return Fail();
    }
    if (WIFSIGNALED(status)) {
      *exit = ChildExit{true, WTERMSIG(status)};
    } else {
      *exit = ChildExit{false, WEXITSTATUS(status)};
    }
    exit->timed_out = timed_out;
    return true;
  }

  bool RandomBytes(unsigned char* buffer, std::size_t size) override {
    while (size > 0) {
      const ssize_t n = ::getrandom(buffer, size, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Fail();
      }
      buffer += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  bool ReadOwnVersion(VersionInfo* info) override {
    // POSIX executables carry no version block; the build's own values stand in.
    info->product_name = TAVRIN_PRODUCT_NAME;
    info->has_file_version = true;
    info->major = TAVRIN_VERSION_MAJOR;
    info->minor = TAVRIN_VERSION_MINOR;
    info->patch = TAVRIN_VERSION_PATCH;
    info->build = TAVRIN_VERSION_BUILD;
    return true;
  }

  std::optional<std::string> Variable(const std::string& name) override {
    return EnvironmentValue(name);
  }

 private:
  bool Fail() {
    last_error_ = errno;
    return false;
  }

  // Another file system: rename cannot go there, a copy can. Directories and
  // special files are not copied: the rename's refusal stands.
  bool MoveAcross(const std::string& from, const std::string& to) {
    struct stat source;
    if (::lstat(from.c_str(), &source) != 0) return Fail();
    if (!S_ISREG(source.st_mode)) {
      last_error_ = EXDEV;
      return false;
    }
    const int error = MoveByCopy(*this, from, to);
    if (error != 0) {
      last_error_ = error;
      return false;
    }
    // Keeping the mode and the time stamps is a courtesy.
    ::chmod(to.c_str(), source.st_mode & 07777);
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    ::utimensat(AT_FDCWD, to.c_str(), times, 0);
    return true;
  }

  int last_error_ = 0;
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;
  return env;
}

}  // namespace tavrin

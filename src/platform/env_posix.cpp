// POSIX implementation of Env.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
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
  explicit PosixLock(int fd) : fd_(fd) {}
  ~PosixLock() override { ::close(fd_); }  // closing the last descriptor unlocks

 private:
  int fd_;
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
// path. Unlike posix_spawnp, never the working directory: an empty or
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

  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, bool* busy) override {
    *busy = false;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    // A lock file left by an earlier run in a directory now read-only.
    if (fd < 0 && (errno == EACCES || errno == EROFS))
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(), nullptr;
    // flock, not fcntl: its lock belongs to this open file, so no other
    // descriptor of ours (a child's, a test's) can release it by closing.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      *busy = errno == EWOULDBLOCK;
      Fail();
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixLock>(fd);
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input_read.get() >= 0)
      posix_spawn_file_actions_adddup2(&actions, input_read.get(), STDIN_FILENO);
    // The files are bound to the child only; our own descriptors stay as they are.
    if (auto* out = static_cast<PosixOutputFile*>(command.stdout_file))
      posix_spawn_file_actions_adddup2(&actions, out->fd(), STDOUT_FILENO);
    if (auto* err = static_cast<PosixOutputFile*>(command.stderr_file))
      posix_spawn_file_actions_adddup2(&actions, err->fd(), STDERR_FILENO);
    // The child gets its three standard descriptors and nothing else: the log
    // file and whatever else we hold open stay ours.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (!command.working_directory.empty())
      posix_spawn_file_actions_addchdir_np(&actions, command.working_directory.c_str());

    std::vector<std::string> args = command.argv;
    std::vector<std::string> env = ChildEnvironment(command);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);

    // Whatever we buffered must reach the console before the child writes.
    std::fflush(stdout);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, program->c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      last_error_ = rc;
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

// A library for the killed-runs test, preloaded into Tavrin (Linux only):
// it counts the C library calls through which Tavrin changes files or runs
// its client, and kills the process with SIGKILL just before one of them.
// So a kill lands at the same point of a run on every machine, whatever its
// speed.
//
//   TAVRIN_KILL_AT=<k>       die just before the k-th counted call (from 1)
//   TAVRIN_KILL_TRACE=<file> append each counted call's name to <file>
//
// Both variables and LD_PRELOAD leave the environment when the library is
// loaded, so the client Tavrin starts runs without it.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

long kill_at = 0;
int trace = -1;
long calls = 0;
pid_t own_pid = 0;

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using WriteFn = ssize_t (*)(int, const void*, size_t);
using OpenFn = int (*)(const char*, int, ...);

__attribute__((constructor)) void Start() {
  own_pid = getpid();
  if (const char* at = std::getenv("TAVRIN_KILL_AT")) kill_at = std::atol(at);
  if (const char* file = std::getenv("TAVRIN_KILL_TRACE"))
    trace = Real<OpenFn>("open")(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  unsetenv("TAVRIN_KILL_AT");
  unsetenv("TAVRIN_KILL_TRACE");
  unsetenv("LD_PRELOAD");
}

void Count(const char* name) {
  if (getpid() != own_pid) return;  // a child between fork and exec
  if (++calls == kill_at) raise(SIGKILL);
  if (trace >= 0) {
    static const WriteFn write_trace = Real<WriteFn>("write");
    const std::size_t length = std::strlen(name);
    char line[32];
    std::memcpy(line, name, length);
    line[length] = '\n';
    write_trace(trace, line, length + 1);
  }
}

}  // namespace

// Each one counts itself, then hands over to the next definition (the C
// library's, or a sanitizer's interceptor).
#define TAVRIN_PASS(name, type, ...)          \
  Count(#name);                               \
  static const auto real = Real<type>(#name); \
  return real(__VA_ARGS__)

extern "C" {

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  TAVRIN_PASS(open, OpenFn, path, flags, mode);
}

ssize_t write(int fd, const void* data, size_t size) {
  TAVRIN_PASS(write, WriteFn, fd, data, size);
}

int close(int fd) { TAVRIN_PASS(close, int (*)(int), fd); }

int fsync(int fd) { TAVRIN_PASS(fsync, int (*)(int), fd); }

// Named like fcntl.h's struct flock, as the C library's own is.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
int flock(int fd, int operation) { TAVRIN_PASS(flock, int (*)(int, int), fd, operation); }
#pragma GCC diagnostic pop

int mkdir(const char* path, mode_t mode) {
  TAVRIN_PASS(mkdir, int (*)(const char*, mode_t), path, mode);
}

int unlink(const char* path) { TAVRIN_PASS(unlink, int (*)(const char*), path); }

int rename(const char* from, const char* to) {
  TAVRIN_PASS(rename, int (*)(const char*, const char*), from, to);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
  TAVRIN_PASS(renameat2, int (*)(int, const char*, int, const char*, unsigned), from_dir, from,
              to_dir, to, flags);
}

pid_t fork() {
  Count("fork");
  static const auto real = Real<pid_t (*)()>("fork");
  return real();
}

pid_t waitpid(pid_t pid, int* status, int options) {
  TAVRIN_PASS(waitpid, pid_t(*)(pid_t, int*, int), pid, status, options);
}

}  // extern "C"

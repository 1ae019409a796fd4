#include "platform/copy_then_remove_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace tavrin {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  bool Close() {
    if (fd_ < 0) return true;
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Copies everything `in` still holds to `out`; the count copied, or -1 with
// errno set.
long long CopyAll(int in, int out) {
  std::vector<char> buffer(1 << 16);
  long long total = 0;
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) return total;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      done += w;
    }
    total += n;
  }
}

// The directory entry of the copy must be on disk before the original goes;
// not every file system can flush a directory, so this is best effort.
void FlushDirectoryOf(const std::string& path) {
  std::string::size_type cut = path.rfind('/');
  std::string directory = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
}

// Writes the copy and checks it; the error number, or 0.
int WriteCopy(int in, const struct stat& source, const std::string& to) {
  Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, source.st_mode & 0777));
  if (!out.valid()) return errno;
  // From here on the copy is ours and goes again on any failure.
  auto fail = [&](int error) {
    out.Close();
    ::unlink(to.c_str());
    return error;
  };
  const long long copied = CopyAll(in, out.get());
  if (copied < 0) return fail(errno);
  if (::fsync(out.get()) != 0) return fail(errno);
  struct stat copy, original;
  if (::fstat(out.get(), &copy) != 0 || ::fstat(in, &original) != 0) return fail(errno);
  // A copy that differs in length from the file as it is now is no copy
  // (the original may have grown while we read it).
  if (copy.st_size != copied || original.st_size != copied) return fail(EIO);
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  ::futimens(out.get(), times);  // keeping the time stamps is a courtesy
  if (!out.Close()) return fail(errno);
  FlushDirectoryOf(to);
  return 0;
}

}  // namespace

int CopyThenRemove(const std::string& from, const std::string& to) {
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return errno;
  struct stat source;
  if (::fstat(in.get(), &source) != 0) return errno;
  // Directories and special files are not copied: the rename's refusal stands.
  if (!S_ISREG(source.st_mode)) return EXDEV;
  if (int error = WriteCopy(in.get(), source, to)) return error;
  if (::unlink(from.c_str()) != 0) {
    // The original stays, so the copy must not: one file, in one place.
    int error = errno;
    ::unlink(to.c_str());
    return error;
  }
  return 0;
}

}  // namespace tavrin

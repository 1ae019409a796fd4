#pragma once
// The operating-system layer. Everything Tavrin asks of the system (directory
// searches, moves, files, clocks, child processes, its own version block) goes
// through Env, so that one POSIX and one Win32 implementation serve the same
// stages, and tests can swap in an Env that fails on purpose.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin {

/// A calendar date and time of day, broken down the way file names print it.
struct DateTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

/// The version block of the program's own file.
struct VersionInfo {
  std::string product_name;  // empty when the block names no product
  bool has_file_version = false;
  unsigned major = 0, minor = 0, patch = 0, build = 0;
};

/// A file read from start to end.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  /// Reads up to `size` bytes into `buffer`. Returns the count read, 0 at the
  /// end of the file, or -1 on a read error.
  virtual long long Read(char* buffer, std::size_t size) = 0;
};

/// A file created anew for writing. It may also be handed to a child process
/// as its standard output or standard error.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  /// Writes all of `data`. Returns false when the system refused any of it.
  virtual bool Append(std::string_view data) = 0;
  /// Closes the file. Returns false when the system reported an error on close.
  virtual bool Close() = 0;
  /// Returns only once everything written so far is on the disk (fsync on
  /// POSIX, FlushFileBuffers on Windows); false when the system could not
  /// make it so, or the file is closed.
  virtual bool Sync() = 0;
  /// The system's error number for the last Append, Close or Sync that failed
  /// (errno, GetLastError()); 0 when none has or the file cannot tell.
  virtual int LastError() const { return 0; }
};

/// An exclusive lock on a file, held until the object goes away or the
/// process ends, however it ends.
class HeldLock {
 public:
  virtual ~HeldLock() = default;
  /// Whether the locked file is still the one at the path it was opened by:
  /// still linked, and no other file put under its name. A file deleted or
  /// replaced while held excludes nobody, since another process can create
  /// and lock a new one of that name. True where the system refuses to
  /// delete or rename a file held this way (Windows).
  virtual bool Intact() { return true; }
};

/// Why LockExclusive took no lock.
enum class LockFailure {
  kNone,        // it took the lock
  kBusy,        // another holder has the lock
  kCannotOpen,  // the file can be neither opened nor created (a missing or read-only directory)
  kCannotLock,  // the file is open but the system could not lock it (no locks on that mount)
};

/// What TestLock found.
enum class LockTest {
  kFree,     // no file has the name, or no one holds a lock on it
  kHeld,     // another holder has the lock LockExclusive takes
  kUnknown,  // the file cannot be opened, or the system cannot lock it
};

/// What to start as a child process, and where its output goes.
struct ChildCommand {
  /// argv[0] names the program; without a directory it is looked up on the
  /// search path. Each element reaches the child as exactly one argument.
  std::vector<std::string> argv;
  OutputFile* stdout_file = nullptr;  // null: the child shares ours
  OutputFile* stderr_file = nullptr;  // null: the child shares ours
  std::string working_directory;      // empty: ours
  /// When set, the child's standard input is a pipe that receives exactly
  /// these bytes (on Windows, text in UTF-8 goes out in the system's ANSI
  /// code page, as a console program reads its input) and is then closed, so the child reads end-of-input after
  /// them and never our console. When unset, the child shares our input. A
  /// child that ends without reading them is no failure of RunChild.
  std::optional<std::string> stdin_text;
  /// Variables set (or replaced) in the child's environment only.
  std::vector<std::pair<std::string, std::string>> environment;
  /// When above 0, a child still running after this many seconds is ended
  /// and reported with ChildExit::timed_out.
  int timeout_seconds = 0;
};

/// How a child process ended.
struct ChildExit {
  bool signaled = false;  // killed by a signal (POSIX only)
  int code = 0;           // exit status, or the signal number when signaled
  bool timed_out = false;  // ended by us after ChildCommand::timeout_seconds
};

class Env {
 public:
  virtual ~Env() = default;

  /// The real operating system. Never deleted.
  static Env* Default();

  /// The error number of the most recent call through this Env that failed
  /// (errno on POSIX, GetLastError() on Windows); a failed Read of a file it
  /// opened counts as such a call.
  virtual int LastError() const = 0;
  /// The system's description of an error number.
  virtual std::string ErrorText(int error) const = 0;

  /// Wildcard search (`*` and `?`, case-insensitive, like Windows long
  /// names) on the last component of `pattern`. Stores the bare names of all
  /// matching entries, sub-directories included, `.` and `..` never. Returns
  /// false when nothing matches, with LastError 0 then, or when the directory
  /// cannot be searched, with LastError the system's reason. POSIX
  /// lists in byte order; Windows in the file system's order. Only long
  /// names are matched on both: "*.sql" never lists "a.sqlx" through its
  /// 8.3 short name.
  virtual bool ListMatches(const std::string& pattern,
                           std::vector<std::string>* names) = 0;

  /// Opens a regular file for reading; null (with LastError set) when it does
  /// not exist, cannot be read, or is a directory.
  virtual std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) = 0;

  /// Creates `path` anew for writing (an existing file is truncated); null
  /// with LastError set on failure.
  virtual std::unique_ptr<OutputFile> CreateOutput(const std::string& path) = 0;

  /// Creates `path` for writing only when no file of that name exists; null
  /// with LastError set on failure, and `*exists` true when the name was taken.
  virtual std::unique_ptr<OutputFile> CreateNewOutput(const std::string& path, bool* exists) = 0;

  /// Opens `path` for writing at its end, creating it when no file has the
  /// name; null with LastError set on failure.
  virtual std::unique_ptr<OutputFile> OpenForAppending(const std::string& path) = 0;

  /// Moves a file or directory; never replaces an existing destination. A
  /// file bound for another file system goes by MoveByCopy (move_by_copy.h):
  /// copied to `<to>.tavrin-copy` and synced, renamed to `to` without
  /// replacing, its directory entry synced, and only then is the original
  /// removed and its directory synced; on a failure before the original is
  /// removed the copy is removed again and the original stays. Succeeds only
  /// when the original is gone: a move that leaves it behind is a failed move,
  /// with LastError giving the reason.
  virtual bool MoveNoReplace(const std::string& from, const std::string& to) = 0;

  /// Puts on the disk the directory entry that names `path`, as a rename or a
  /// removal left it. POSIX syncs the directory that holds `path` (fsync on
  /// it); Windows, where a directory cannot be synced, flushes the file under
  /// that name (FlushFileBuffers), and has nothing to do for a name that no
  /// longer exists. A file system that cannot sync a directory counts as
  /// done. False, with LastError set, when the system refused.
  virtual bool SyncEntry(const std::string& path) = 0;

  /// Renames a file within its file system, replacing a file that already
  /// has the new name. Windows refuses it while another process (a virus
  /// scanner, an indexer, a reader) holds either file open: a rename refused
  /// with ERROR_ACCESS_DENIED or ERROR_SHARING_VIOLATION is tried again for
  /// up to 2 s (RetryWhileBusy) before it fails.
  virtual bool RenameReplacing(const std::string& from, const std::string& to) = 0;

  /// Removes one file.
  virtual bool RemoveFile(const std::string& path) = 0;

  /// Creates one directory. Fails when the name is taken, with `*exists` true
  /// then, so that making the directory is the claim to it.
  virtual bool MakeDirectory(const std::string& path, bool* exists) = 0;

  /// Opens `path` (created empty when missing, never truncated) and takes an
  /// exclusive lock on it without waiting: flock on POSIX, LockFileEx on
  /// Windows. On Windows the file cannot be deleted or renamed while held.
  /// Null when it cannot, with `*failure` telling why and LastError set; a
  /// file another process holds open in a way that excludes us is busy.
  virtual std::unique_ptr<HeldLock> LockExclusive(const std::string& path,
                                                  LockFailure* failure) = 0;

  /// Tells whether another holder has the lock that LockExclusive takes on
  /// `path`, without taking it and without creating the file: opens the file
  /// read-only when it exists, takes a shared lock on it without waiting
  /// (flock with LOCK_SH | LOCK_NB on POSIX, LockFileEx without the exclusive
  /// flag on Windows), releases it at once and closes the file. A holder's
  /// own LockExclusive may find it busy for that instant only. LastError is
  /// set with kUnknown.
  virtual LockTest TestLock(const std::string& path) = 0;

  virtual DateTime UtcNow() = 0;
  virtual DateTime LocalNow() = 0;
  /// Seconds since the epoch, for elapsed times.
  virtual std::int64_t CalendarSeconds() = 0;
  /// Returns after `milliseconds` have passed, at once for 0 or less. A
  /// test's Env may note the wait and return at once, so that no test waits.
  virtual void SleepMilliseconds(int milliseconds) = 0;

  /// Starts a child process and waits until it has ended. Returns false, with
  /// LastError set, when the child could not be started. The child never
  /// outlives us: it is ended when we end, however we end. On Linux it is
  /// ended when the calling thread ends, so clients start from the main thread.
  virtual bool RunChild(const ChildCommand& command, ChildExit* exit) = 0;

  /// Reads the version block of the running program's own file. Returns false
  /// when there is none.
  virtual bool ReadOwnVersion(VersionInfo* info) = 0;

  /// The value of an environment variable of ours; nothing when it is not set.
  virtual std::optional<std::string> Variable(const std::string& name) = 0;

  /// The form of `path` to hand on the command line to a client program that
  /// takes its arguments in the system's legacy code page. POSIX passes every
  /// path as it is. Windows passes it as it is when the ANSI code page holds
  /// it and its full form is shorter than 260 characters, else its 8.3 short
  /// form when that meets both; otherwise there is none, and this is false.
  virtual bool ClientPath(const std::string& path, std::string* passable) {
    *passable = path;
    return true;
  }

  /// Fills `buffer` with bytes from the system's random source, fit for ids
  /// that no other run may ever pick. False, with LastError set, when the
  /// source cannot be read.
  virtual bool RandomBytes(unsigned char* buffer, std::size_t size) = 0;
};

}  // namespace tavrin

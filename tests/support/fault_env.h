#pragma once
// An Env that fails the k-th call that can fail: every call of the system
// that reports a result, the reads, writes and closes of the files it hands
// out included. Counting first with no k set tells how many there are, so a
// test can fail each one in turn. The child process is a stand-in that
// records the script it was handed and writes one line of output, so that
// no sqlplus is needed and the sweep runs the same on every system.

#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/env.h"
#include "support/env_wrapper.h"

namespace tavrin::test {

class FaultEnv : public EnvWrapper {
 public:
  /// The error of a failed lock call, as on a mount without locks: ENOLCK
  /// on POSIX, ERROR_LOCK_FAILED on Windows.
#ifdef _WIN32
  static constexpr int kNoLocks = 167;
#else
  static constexpr int kNoLocks = ENOLCK;
#endif

  /// Fails call number `fail_at` (from 1); 0 fails none.
  explicit FaultEnv(std::int64_t fail_at);

  /// Also fails the first call named `call` ("LockExclusive"), whatever its number.
  void FailFirst(std::string call) { fail_named_ = std::move(call); }

  /// The calls counted so far.
  std::int64_t calls() const { return calls_; }
  /// What the injected failure hit, e.g. "Append", or empty.
  const std::string& failed_call() const { return failed_call_; }
  /// The bytes of each script handed to the client, by the script's bare
  /// name, as the client read them.
  const std::multimap<std::string, std::string>& scripts_run() const { return scripts_run_; }

  /// Moves whose source path contains this text are refused (with the
  /// injected error) whatever the count; empty refuses none.
  std::string refuse_moves_of;
  /// Moves between two directories go the way of another file system: by
  /// MoveByCopy, each of its steps a call of this Env.
  bool cross_device = false;
  /// Makes the injected failure of an Append a full disk that takes the
  /// first `kept` bytes and refuses the rest (instead of half, and EIO).
  void ShortWrites(std::size_t kept) { short_write_ = kept; }
  const std::optional<std::size_t>& short_write() const { return short_write_; }

  /// True when this call is the one to fail.
  bool Due(const char* call);
  /// Sets the last error, as a failed read of one of our files does.
  void FailRead();

  bool ListMatches(const std::string& pattern, std::vector<std::string>* names) override;
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateNewOutput(const std::string& path, bool* exists) override;
  std::unique_ptr<OutputFile> OpenForAppending(const std::string& path) override;
  bool MoveNoReplace(const std::string& from, const std::string& to) override;
  bool RenameReplacing(const std::string& from, const std::string& to) override;
  bool SyncEntry(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool MakeDirectory(const std::string& path, bool* exists) override;
  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, LockFailure* failure) override;
  LockTest TestLock(const std::string& path) override;
  DateTime UtcNow() override { return DateTime{2026, 12, 1, 10, 15, 30}; }
  DateTime LocalNow() override { return DateTime{2026, 12, 1, 11, 15, 30}; }
  std::int64_t CalendarSeconds() override { return 1'700'000'000; }
  bool RunChild(const ChildCommand& command, ChildExit* exit) override;
  bool ReadOwnVersion(VersionInfo* info) override;
  bool ClientPath(const std::string& path, std::string* passable) override;
  bool RandomBytes(unsigned char* buffer, std::size_t size) override;

 private:
  std::int64_t fail_at_;
  std::string fail_named_;
  std::int64_t calls_ = 0;
  std::string failed_call_;
  std::optional<std::size_t> short_write_;
  std::multimap<std::string, std::string> scripts_run_;
};

}  // namespace tavrin::test

#pragma once
// The optional log file: a second, time-stamped copy of the run's messages.

#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>

#include "diag/log_format.h"
#include "platform/env.h"

namespace tavrin {

class LogFile {
 public:
  explicit LogFile(std::ostream& errors) : errors_(errors) {}
  ~LogFile() { Close(); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  /// Creates "<base>_<local date and time>.log" in the current directory,
  /// or when a file has that name (a run of the same second) the name with
  /// "_2", "_3"... before ".log": a log never replaces a file. Closes any
  /// file opened before. On failure reports "init_log() failed to open
  /// <base>" and the system's reason on the error stream, and returns false.
  bool init_log(const std::string& base, Env& env);

  bool is_open() const { return file_ != nullptr; }

  /// Writes one formatted message straight to the system, so that a run
  /// killed later keeps it; returns the number of characters written. The
  /// first write the system refuses is reported on the error stream; later
  /// ones are tried but not reported again.
  template <typename... Args>
  int log(std::string_view format, const Args&... args) {
    const LogArg packed[] = {LogArg(args)..., LogArg(0)};
    return WriteArgs(format, std::span<const LogArg>(packed, sizeof...(Args)));
  }

  void Close();

 private:
  int WriteArgs(std::string_view format, std::span<const LogArg> args);
  void ReportWriteFailure();

  std::ostream& errors_;
  std::unique_ptr<OutputFile> file_;
  std::string path_;
  bool write_failed_ = false;
  std::string buffer_;
};

}  // namespace tavrin

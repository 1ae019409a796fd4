#pragma once
// Where a stage's messages go: the console streams, and the log file when
// logging is on. Every message is written twice by its caller, once to the
// console and once through log(); the two texts often differ.

#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "diag/log_file.h"
#include "diag/log_format.h"

namespace tavrin {

class Diagnostics {
 public:
  Diagnostics(std::ostream& out, std::ostream& err) : out_(out), err_(err), log_file_(err) {}

  std::ostream& out() { return out_; }  // standard output
  std::ostream& err() { return err_; }  // standard error

  /// Writes to the log file when logging is on; otherwise does nothing.
  template <typename... Args>
  void log(std::string_view format, const Args&... args) {
    if (logging_on_) log_file_.log(format, args...);
  }

  bool logging_on() const { return logging_on_; }

  /// Writes one message, formatted once, to `stream` and to the log.
  template <typename... Args>
  void Say(std::ostream& stream, std::string_view format, const Args&... args) {
    const LogArg packed[] = {LogArg(args)..., LogArg(0)};
    std::string text;
    FormatLog(format, std::span<const LogArg>(packed, sizeof...(Args)), &text, err_);
    stream << text << std::flush;
    log("%s", text);
  }

  /// Follows a failure message that names a file or a program: the system's
  /// text for `error` on `stream`, and in the log. An error the system did
  /// not tell (0) adds nothing.
  void Reason(std::ostream& stream, const Env& env, int error) {
    if (error != 0) Say(stream, "\tReason: %s\n", env.ErrorText(error));
  }

  /// Opens a new log file and turns logging on. False when it cannot be opened.
  bool StartLogging(Env& env) {
    logging_on_ = false;
    if (!log_file_.init_log("Tavrin", env)) return false;
    logging_on_ = true;
    return true;
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
  LogFile log_file_;
  bool logging_on_ = false;
};

}  // namespace tavrin

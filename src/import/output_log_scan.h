#pragma once
// Reading back what SQL*Plus printed for one script. The client exits 0 even
// when blocks fail, and a SQLCODE exit status is taken mod 256, so its output
// log is the only reliable word on whether the script went in cleanly.

#include <string>
#include <string_view>

#include "platform/env.h"

namespace tavrin {

/// The errors an output log shows.
struct OutputLogErrors {
  /// Lines that begin with "ERROR at line ", are exactly "ERROR:", or begin
  /// with "SP2-".
  int count = 0;
  /// The first line that begins with "ORA-", "PLS-", "SP2-" or "TNS-", or
  /// when there is none the first counted line; without its CR, at most
  /// kFirstErrorBytes long. Empty when there is neither.
  std::string first_error;

  /// For the classes of a script with the -A header: the counted lines that
  /// are not part of a logon warning ("ERROR:" with ORA-28002 or ORA-28011
  /// on the next line, which the client prints at logon and goes on)...
  int class_count = 0;
  /// ...the first ORA-/PLS-/SP2-/TNS- line outside a logon warning, or when
  /// there is none the first of those counted lines...
  std::string class_first_error;
  /// ...and whether a line shows a lost or broken connection (TNS-, or one
  /// of the ORA- codes of IsLostConnectionLine).
  bool lost_connection = false;
};

/// Whether an output log's line shows that the connection was lost or broken.
bool IsLostConnectionLine(std::string_view line);

inline constexpr std::size_t kFirstErrorBytes = 200;

/// Scans an output log handed over in pieces of any size. Holds only the
/// beginning of the current line, so memory stays small whatever the log's
/// size and however long its lines are.
class OutputLogScanner {
 public:
  void Feed(std::string_view bytes);
  /// Ends a last line that has no line end, and gives the result.
  OutputLogErrors Finish();

 private:
  void EndLine();

  std::string head_;              // the current line's first bytes
  std::size_t line_length_ = 0;   // the current line's full length so far
  OutputLogErrors result_;
  std::string first_counted_;     // the fallback for first_error
  bool have_message_ = false;     // first_error holds an ORA-/PLS-/SP2-/TNS- line
  void CountForClasses(std::string_view line);
  bool pending_error_ = false;        // the last line was "ERROR:": a logon warning or not
  std::string first_class_counted_;   // the fallback for class_first_error
  bool have_class_message_ = false;
};

/// Reads the file at `path` through `env` from start to end and scans it.
/// False when it cannot be opened or read.
bool ScanOutputLog(Env& env, const std::string& path, OutputLogErrors* errors);

}  // namespace tavrin

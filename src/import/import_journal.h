#pragma once
// The import journal: a file beside the scripts that records, by the hash of
// a script's bytes, when it went to sqlplus, when sqlplus ended, and when the
// backup moved it away. It is what keeps a run that was stopped half-way from
// importing the same script twice. One line per event:
//   <sha256, 64 lowercase hex> <started|ended|moved> <YYYY-MM-DDTHH:MM:SSZ> <bare name>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/env.h"

namespace tavrin {

/// The journal's bare name. It matches none of *.sql, *.tvr and *.olog, so
/// no stage ever takes it for an input, a script or an output log.
inline constexpr const char* kImportJournalName = "tavrin-imports.journal";

enum class JournalState { kStarted, kEnded, kMoved };

/// The last line recorded for one hash.
struct JournalMark {
  JournalState state = JournalState::kStarted;
  std::string time;  // as the line holds it, UTC
};

class ImportJournal {
 public:
  ImportJournal(Env& env, std::string path) : env_(env), path_(std::move(path)) {}

  /// Reads the journal, creating it when missing. False when it cannot be
  /// created or read, with failure() telling why.
  bool Open();

  /// Reads the journal if there is one. False when there is none or it
  /// cannot be read; nothing is created.
  bool OpenExisting();

  /// The last line of `hash`, or null when the journal has none.
  const JournalMark* Find(const std::string& hash) const;

  /// Whether the journal holds no usable line.
  bool empty() const { return lines_.empty(); }

  /// Lines that could not be read (a torn last line, say); they are ignored.
  int unreadable_lines() const { return unreadable_; }

  /// Appends one line stamped with the current UTC time; with `sync` it is on
  /// the disk before this returns. False once any write has failed: the
  /// journal can no longer be trusted for this run.
  bool Record(const std::string& hash, JournalState state, std::string_view name, bool sync);

  /// Takes back the line just recorded (its client never started), by
  /// rewriting the journal without it.
  bool Withdraw();

  /// Puts everything recorded on the disk and closes the journal. False when
  /// any write has failed.
  bool Close();

  /// Rewrites the journal without the hashes whose last line is `moved`, and
  /// without unreadable lines, through a temporary file renamed over it.
  /// Does nothing when there is nothing to leave out.
  bool DropMoved();

  const std::string& path() const { return path_; }
  /// The system's reason for the first failure.
  const std::string& failure() const { return failure_; }

 private:
  bool Read();
  bool Fail();  // with the Env's last error
  bool Fail(int error);
  bool Rewrite(const std::vector<std::string>& lines);

  Env& env_;
  std::string path_;
  std::unique_ptr<OutputFile> file_;  // open for appending once written to
  std::vector<std::string> lines_;    // the usable lines, without line ends
  std::unordered_map<std::string, JournalMark> last_;
  int unreadable_ = 0;
  bool ends_open_ = false;  // the file's last line lacks its line end
  bool failed_ = false;
  std::string failure_;
};

/// "YYYY-MM-DDTHH:MM:SSZ".
std::string JournalTime(const DateTime& utc);

}  // namespace tavrin

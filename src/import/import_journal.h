#pragma once
// The import journal: a file beside the scripts that records, by the hash of
// a script's bytes, when it went to sqlplus, when sqlplus ended, and when the
// backup moved it away. It is what keeps a run that was stopped half-way from
// importing the same script twice. One line per event:
//   <sha256, 64 lowercase hex> <started|ended|undone|moved> <YYYY-MM-DDTHH:MM:SSZ> [group=<tag>] [id=<32 lowercase hex>] [log=<bare name>] [first=<16 lowercase hex>] [atomic=no] <bare name>
// log=, first= and atomic= are written on started lines only: the output log
// of that import, the first 16 hex digits of the SHA-256 of its group's first
// input file name, and a script that may commit on its own.
// A script that a -p run wrote carries its group's tag: two groups whose
// scripts have the same bytes are two transactions, each imported once.
// A script that records its import in the database carries its import id;
// an undone line says that nothing of that import reached the database.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/env.h"

namespace tavrin {

/// The journal's bare name. It matches none of *.sql, *.tvr and *.olog, so
/// no stage ever takes it for an input, a script or an output log.
inline constexpr const char* kImportJournalName = "tavrin-imports.journal";

enum class JournalState { kStarted, kEnded, kMoved, kUndone };

/// The last line recorded for one hash.
struct JournalMark {
  JournalState state = JournalState::kStarted;
  std::string time;  // as the line holds it, UTC
};

/// One import: a started line, and what closed it or moved it away since.
struct JournalImport {
  std::string hash;
  std::string tag;      // the group tag; empty for a line without one
  std::string started;  // the started line's time
  std::string ended;    // the ended line's time; empty while none closed it
  std::string id;       // the import id; empty for a line without one
  bool undone = false;  // closed by an undone line: no import after all
  bool moved = false;
  std::string log;      // the bare name of its output log; empty for a line without one
  std::string first;    // 16 hex digits of its group's first input file name's SHA-256
  bool not_atomic = false;  // atomic=no: its script may commit part of itself
  std::string name;  // the bare name its started line holds
  std::string last;  // the time of its last line but a moved one: started, ended or undone
};

/// The fields only a started line carries; each is written when it applies.
struct StartedFields {
  std::string_view log;    // the output log's bare name
  std::string_view first;  // 16 lowercase hex digits
  bool not_atomic = false;
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

  /// Whether the last line lacks its line end and cannot be read: a line
  /// that a crash or a full disk cut short.
  bool torn() const { return torn_; }

  /// Removes such a line by rewriting the journal without it, so that no
  /// line written later completes it. Record does so before its first line.
  /// True when there is none left; false when the rewrite failed.
  bool RemoveTornLine();

  /// Appends one line stamped with the current UTC time, with the group tag
  /// when `tag` is not empty; with `sync` it is on the disk before this
  /// returns. False once any write has failed: the journal can no longer be
  /// trusted for this run.
  ///
  /// A started line is a new import. An ended or undone line with an id
  /// closes the import of its hash with that id; without one, the latest
  /// import of its hash and tag that has no id and that nothing closed yet.
  /// A moved line moves away the import that a copy of its hash and tag would
  /// find: the latest of both, else the first untagged one of its hash;
  /// untagged, the first of its hash. A tagged one also moves away every
  /// import of its tag recorded before it, whatever its hash. `id` follows the tag when not empty,
  /// and `fields` follow the id.
  bool Record(const std::string& hash, JournalState state, std::string_view name, bool sync,
              std::string_view tag = {}, std::string_view id = {},
              const StartedFields& fields = {});

  /// Every import, oldest first.
  const std::vector<JournalImport>& imports() const { return imports_; }

  /// Whether the import at `import_index` of imports() is held back: closed
  /// by an undone line, its group's input files stay for the next run. It is
  /// so while no later import of its hash and tag exists and no moved line of
  /// its tag follows it (without a tag: of its hash, without a tag).
  bool HeldBack(std::size_t import_index) const;

  /// Takes back the line just recorded (its client never started), by
  /// rewriting the journal without it.
  bool Withdraw();

  /// Puts everything recorded on the disk and closes the journal. False when
  /// any write has failed.
  bool Close();

  /// Rewrites the journal without the imports that were moved away or undone
  /// and their lines, and without unreadable lines, through a temporary file renamed
  /// over it. A held-back import stays: its group is still to be imported.
  /// Given the tags of the groups found in the input directory, a held-back
  /// import whose tag is none of them goes as well: its group is gone.
  /// A line that belongs to no import stays unless its hash had
  /// imports and every one of them was moved away.
  /// Does nothing when there is nothing to leave out.
  bool DropMoved(const std::unordered_set<std::string>* group_tags = nullptr);

  /// Asked before every rewrite of the file (Withdraw, DropMoved and any
  /// other): when it answers false the file is left as it is, and the
  /// rewrite and every later write fail. The caller has said why.
  void CheckBeforeRewrite(std::function<bool()> check) { check_ = std::move(check); }

  const std::string& path() const { return path_; }
  /// The system's reason for the first failure.
  const std::string& failure() const { return failure_; }

 private:
  bool Read();
  /// Takes the line at `index` of lines_ into the imports.
  void Apply(std::size_t index);
  /// The imports again, from lines_.
  void Rebuild();
  bool Fail();  // with the Env's last error
  bool Fail(int error);
  bool Rewrite(const std::vector<std::string>& lines);
  bool RewriteBytes(const std::string& bytes);

  Env& env_;
  std::string path_;
  std::unique_ptr<OutputFile> file_;  // open for appending once written to
  std::vector<std::string> lines_;    // the usable lines, without line ends
  std::unordered_map<std::string, JournalMark> last_;
  std::vector<JournalImport> imports_;
  std::unordered_map<std::string, std::vector<std::size_t>> imports_of_;  // by hash
  std::vector<std::size_t> owner_;  // of each line of lines_: its import, or kNoImport
  // Of each import: a later import of its hash and tag, or a moved line of
  // its tag, came after it. An undone import so passed is not held back.
  std::vector<bool> passed_;
  std::function<bool()> check_;  // before a rewrite; empty: none
  int unreadable_ = 0;
  bool ends_open_ = false;  // the file's last line lacks its line end, and reads
  bool torn_ = false;       // the file's last line lacks its line end, and does not read
  std::string intact_;      // with torn_: the file's bytes before that line
  bool failed_ = false;
  std::string failure_;
};

/// What one copy of a script finds in the journal.
struct CopyMatch {
  enum Kind {
    kNone,           // no import: import it
    kEnded,          // imported before
    kCutShort,       // started, and never ended
    kOtherBytes,     // its group was imported as other bytes
    kOtherCutShort,  // its group was being imported as other bytes, and never ended
  } kind = kNone;
  std::string time;  // kEnded: when its import ended
  std::string tag;   // kEnded, kCutShort, kOtherCutShort: the import's own group tag and id
  std::string id;
  std::string hash;  // kOtherCutShort: the bytes that import was of
  std::string log;   // kCutShort, kOtherCutShort: that import's output log, when known
  bool not_atomic = false;    // that import's script may have committed part of itself
  bool other_ended = false;   // kOtherCutShort: its group also went in as other bytes
};

/// Finds the import each copy of a run matches, the copies taken in the
/// run's order. A copy with a tag matches the latest import of its hash and
/// tag; failing that, the latest import of its tag under another hash: one
/// still open makes it kOtherCutShort, one that ended kOtherBytes; failing
/// that, the k-th copy of its hash
/// that got this far matches the k-th untagged import of the hash. A copy
/// without a tag: the k-th of its hash matches the k-th import of the hash.
/// A tagged copy that finds no import of its tag, while an import still open
/// has its `first` (its group grew since: a new file, a new tag), is
/// kOtherCutShort of that import; that one's group may be partly in.
/// Imports moved away or undone match nothing. It looks at the imports as they were
/// when it was made.
class CopyMatcher {
 public:
  explicit CopyMatcher(const ImportJournal& journal);

  /// `first`: JournalImport::first of the copy's group; empty when unknown.
  CopyMatch Match(const std::string& hash, std::string_view tag, std::string_view first = {});

 private:
  static CopyMatch Of(const JournalImport& import);

  std::unordered_map<std::string, std::vector<JournalImport>> of_hash_;  // imports not moved
  std::unordered_map<std::string, std::vector<JournalImport>> of_tag_;   // likewise, tagged
  std::unordered_map<std::string, JournalImport> open_of_first_;  // the latest open, by first
  std::unordered_map<std::string, std::size_t> by_order_;  // copies of a hash matched by order
};

/// "YYYY-MM-DDTHH:MM:SSZ".
std::string JournalTime(const DateTime& utc);

}  // namespace tavrin

#include "import/journal_status.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "import/backup_record.h"
#include "import/import_journal.h"
#include "import/script_order.h"
#include "platform/path.h"

namespace tavrin {
namespace {

enum State { kImported, kImporting, kCutShort, kHeldBack, kNotImported, kLeftOut, kStates };

constexpr const char* kStateWords[kStates] = {"imported",  "importing",    "cut short",
                                              "held back", "not imported", "left out"};

struct Row {
  std::string script;
  State state = kNotImported;
  std::string time;  // empty: none
  std::string tag;   // empty: none
};

// The file or directory `path` names is there; false when it is not, or its
// directory cannot be searched (`*error` then tells why).
bool Present(Env& env, const std::string& path, int* error) {
  std::vector<std::string> names;
  if (env.ListMatches(path, &names)) return true;
  *error = env.LastError();
  return false;
}

int Unreadable(Run& run, const std::string& path, int error) {
  run.diag.Say(run.diag.err(), "\n\n[Tavrin] Error: Unable to read %s. Process aborted.\n", path);
  run.diag.Reason(run.diag.err(), run.env, error);
  return 1;
}

// Whether a run holds the output directory's lock. A lock that cannot be
// tested is taken as free, with a warning the first time (`*warned`).
bool RunHoldsLock(Run& run, const std::string& path, bool* warned) {
  switch (run.env.TestLock(path)) {
    case LockTest::kHeld: return true;
    case LockTest::kFree: return false;
    case LockTest::kUnknown: break;
  }
  if (*warned) return false;
  *warned = true;
  const int error = run.env.LastError();
  run.diag.Say(run.diag.err(),
               "\n[Tavrin] Warning: Unable to tell whether a run holds the lock file %s. Open "
               "imports are shown as cut short.\n",
               path);
  run.diag.Reason(run.diag.err(), run.env, error);
  return false;
}

}  // namespace

int ShowJournalStatus(Run& run, const std::string& lock_path) {
  Env& env = run.env;
  Diagnostics& diag = run.diag;
  const std::string directory = run.settings.output_directory.value_or("");

  // Tested before the journal is read and again after: an open import is
  // cut short only when no run held the lock while it was read.
  bool warned = false;
  bool running = RunHoldsLock(run, lock_path, &warned);

  std::vector<std::string> names;
  if (!env.ListMatches(JoinPath(directory, "*.tvr"), &names) && env.LastError() != 0)
    return Unreadable(run, directory, env.LastError());
  SortScriptNames(&names);

  ImportJournal journal(env, JoinPath(directory, kImportJournalName));
  if (!journal.OpenExisting()) {
    int error = env.LastError();
    if (Present(env, journal.path(), &error)) return Unreadable(run, journal.path(), error);
  }
  BackupRecord record(env, JoinPath(directory, kBackupRecordName));
  if (!record.Read()) {
    int error = record.present() ? record.read_error() : env.LastError();
    if (record.present() || Present(env, record.path(), &error))
      return Unreadable(run, record.path(), error);
  }
  if (!running) running = RunHoldsLock(run, lock_path, &warned);

  if (journal.unreadable_lines() > 0)
    diag.Say(diag.err(),
             "\n[ImportLogFiles] Warning: %d line(s) of the import journal %s could not be "
             "read. They are ignored.\n",
             journal.unreadable_lines(), journal.path());

  // One row per import still in the journal's keeping. An undone import
  // that is not held back was no import: a later one took its place.
  const std::vector<JournalImport>& imports = journal.imports();
  std::vector<Row> rows;
  std::unordered_map<std::string, std::vector<std::size_t>> rows_of_hash;
  bool operator_needed = false;
  for (std::size_t i = 0; i < imports.size(); ++i) {
    const JournalImport& import = imports[i];
    if (import.moved || (import.undone && !journal.HeldBack(i))) continue;
    Row row{import.name, kImported, import.last, import.tag};
    if (import.undone) row.state = kHeldBack;
    else if (import.ended.empty()) row.state = running ? kImporting : kCutShort;
    // Settled by nothing but an operator: without the history, or a script
    // that may have committed a part of itself.
    if (row.state == kHeldBack ||
        (row.state == kCutShort && (import.id.empty() || import.not_atomic)))
      operator_needed = true;
    rows_of_hash[import.hash].push_back(rows.size());
    rows.push_back(std::move(row));
  }

  // Each script, as -I alone takes them: the k-th copy of a hash is the k-th
  // import of it shown above, and names it.
  std::unordered_map<std::string, std::size_t> copies;
  std::vector<Row> unmatched;
  for (const std::string& name : names) {
    const std::string path = JoinPath(directory, name);
    std::int64_t size = 0;
    std::string hash;
    if (!SizeAndHash(env, path, &size, &hash)) {
      const int error = env.LastError();
      diag.Say(diag.err(), "\n[Tavrin] Warning: Unable to read script %s.\n", path);
      diag.Reason(diag.err(), env, error);
      hash.clear();
    }
    const auto found = rows_of_hash.find(hash);
    const std::size_t k = hash.empty() ? 0 : copies[hash]++;
    if (!hash.empty() && found != rows_of_hash.end() && k < found->second.size())
      rows[found->second[k]].script = name;
    else
      unmatched.push_back(Row{name, kNotImported, {}, {}});
  }
  rows.insert(rows.end(), unmatched.begin(), unmatched.end());
  for (const LeftOutFile& file : record.FailedInputs()) {
    rows.push_back(Row{file.directory + file.name, kLeftOut, {}, {}});
    operator_needed = true;
  }

  int counts[kStates] = {};
  for (const Row& row : rows) {
    ++counts[row.state];
    diag.Say(diag.out(), "%s\t%s\t%s\t%s\n", row.script, kStateWords[row.state],
             row.time.empty() ? "-" : row.time, row.tag.empty() ? "-" : row.tag);
  }
  diag.Say(diag.out(),
           "%d imported, %d importing, %d cut short, %d held back, %d not imported, %d left "
           "out.\n",
           counts[kImported], counts[kImporting], counts[kCutShort], counts[kHeldBack],
           counts[kNotImported], counts[kLeftOut]);
  return operator_needed ? 2 : 0;
}

}  // namespace tavrin

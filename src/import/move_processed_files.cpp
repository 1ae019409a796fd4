#include "import/move_processed_files.h"

#include <set>
#include <vector>

#include "import/backup_record.h"
#include "import/group_tags.h"
#include "import/sha256.h"
#include "import/time_stamped_names.h"
#include "platform/path.h"

namespace tavrin {
namespace {

// Moves one file without replacing anything and reports the outcome; a
// refusal names the file and the system's reason, and marks the run: the
// file will be imported again.
bool MoveOne(Run& run, const std::string& source_prefix, const std::string& destination_prefix,
             const std::string& name) {
  Diagnostics& diag = run.diag;
  const std::string source = source_prefix + name;
  if (run.env.MoveNoReplace(source, destination_prefix + name)) {
    diag.out() << "\tMoved File :" << name << " to " << destination_prefix << std::endl;
    diag.log("\tMoved File :%s to %s\n", name, destination_prefix);
    return true;
  }
  const std::string reason = run.env.ErrorText(run.env.LastError());
  diag.err() << "\n[EnumerateAndMoveFiles] Error: Unable to move file " << source << ": "
             << reason << std::endl;
  diag.log("\n[EnumerateAndMoveFiles] Error: Unable to move file %s: %s\n", source, reason);
  run.errors_reported = true;
  return false;
}

// The journal, and how to tell the copies of a script apart as they move.
struct MovedScripts {
  MovedScripts(ImportJournal& journal, const Run& run);

  ImportJournal& journal;
  CopyMatcher copies;
  std::unordered_map<std::string, std::string> tags;  // by bare name: this run's scripts
};

MovedScripts::MovedScripts(ImportJournal& j, const Run& run) : journal(j), copies(j) {
  const auto groups = GroupTags(run.files);
  for (const WrittenScript& written : run.scripts_written) {
    const auto group = groups.find(written.group);
    if (group == groups.end()) continue;
    const std::size_t cut = written.path.rfind(kPathSeparator);
    tags[written.path.substr(cut == std::string::npos ? 0 : cut + 1)] = group->second.tag;
  }
}

// A script that has left the output directory: its bytes, should they come
// again, are a new transaction. Only copies the journal has an import of are
// marked, with the tag of their group when this run wrote them.
void MarkMoved(Run& run, MovedScripts& moved, const std::string& path, const std::string& name) {
  std::string hash;
  if (moved.journal.empty() || !HashFile(run.env, path, &hash)) return;
  const auto tag = moved.tags.find(name);
  const std::string_view group = tag == moved.tags.end() ? std::string_view() : tag->second;
  const CopyMatch match = moved.copies.Match(hash, group);
  if (match.kind == CopyMatch::kEnded || match.kind == CopyMatch::kCutShort)
    moved.journal.Record(hash, JournalState::kMoved, name, false, group);  // failures show at the rewrite
}

// Makes the backup directory, or when a run of the same second has taken the
// name, the same name with "_2", "_3" and so on. Making it is the claim: a
// directory another run made is never used. Stores the name made, or the one
// that failed.
bool MakeBackupDirectory(Env& env, const std::string& stem, std::string* name) {
  *name = stem;
  // Each taken name is one directory that exists, so the walk ends.
  for (unsigned n = 2;; ++n) {
    bool exists = false;
    if (env.MakeDirectory(*name, &exists)) return true;
    if (!exists) return false;
    *name = stem + "_" + std::to_string(n);
  }
}

std::string WithSeparator(std::string directory) {
  directory.push_back(kPathSeparator);
  return directory;
}

// Moves the matches of a pattern; with `scripts`, marks the scripts moved.
void MoveMatches(Run& run, const std::string& source_prefix, const std::string& destination_prefix,
                 std::string_view pattern, MovedScripts* scripts) {
  Diagnostics& diag = run.diag;
  std::vector<std::string> names;
  if (!run.env.ListMatches(source_prefix + std::string(pattern), &names)) {
    diag.err() << "[GroupFileList]Error: Unable to find " << pattern << " files in "
               << source_prefix << " directory." << std::endl;
    diag.log("[GroupFileList] Error: Unable to find %s in %s directory.\n", pattern, source_prefix);
    return;
  }
  for (const std::string& name : names)
    if (MoveOne(run, source_prefix, destination_prefix, name) && scripts)
      MarkMoved(run, *scripts, destination_prefix + name, name);
}

}  // namespace

void EnumerateAndMoveFiles(Run& run, std::string source_prefix, std::string destination_prefix,
                           std::string_view pattern) {
  MoveMatches(run, source_prefix, destination_prefix, pattern, nullptr);
}

bool MoveProcessedFiles(Run& run) {
  Diagnostics& diag = run.diag;
  if (run.files.empty()) {
    diag.out() << "\n[MoveProcessedFiles] Warning: File list found empty. No files moved."
               << std::endl;
    diag.log("\n[MoveProcessedFiles] Warning: File list found empty. No files moved.\n");
    return true;
  }

  std::string backup;
  const bool made = MakeBackupDirectory(run.env, BackupDirectoryName(run.env.UtcNow()), &backup);
  diag.out() << "\n\nMoving processed files to backup directory " << backup << std::endl;
  if (!made) {
    run.errors_reported = true;
    diag.err() << "\n[MoveProcessedFiles] Error : Could not create backup directory. Process is "
                  "aborted"
               << std::endl;
    diag.log(
        "\n[MoveProcessedFiles] Error : Could not create backup directory %s. Process is "
        "aborted\n",
        backup);
    return false;
  }

  diag.out() << "\n Moving INPUT SQL Files..." << std::endl;
  diag.log("\nMoving INPUT SQL files...\n");
  const std::string destination = WithSeparator(backup);
  const std::string input = WithSeparator(run.settings.input_directory.value_or(""));
  const std::string output = WithSeparator(run.settings.output_directory.value_or(""));
  // Without the record (an output directory that cannot hold it) the moves
  // go on as they always did; only a stop half-way would cost more.
  BackupRecord record{input, destination, {}};
  for (const InputFile& file : run.files) record.names.push_back(file.name);
  if (!run.LockIntact()) return false;  // another run may be in: rewrite no record
  const bool recorded = WriteBackupRecord(run.env, output + kBackupRecordName, record);
  for (const InputFile& file : run.files) MoveOne(run, input, destination, file.name);
  if (recorded) run.env.RemoveFile(output + kBackupRecordName);

  // No journal, nothing to forget: no run has imported from here.
  ImportJournal journal(run.env, output + kImportJournalName);
  journal.CheckBeforeRewrite([&run] { return run.LockIntact(); });
  const bool journaled = journal.OpenExisting();
  MovedScripts scripts(journal, run);
  MoveMatches(run, output, destination, "*.tvr", journaled ? &scripts : nullptr);
  EnumerateAndMoveFiles(run, output, destination, "*.olog");
  if (journaled && !journal.DropMoved() && !run.lock_lost) {
    run.errors_reported = true;
    std::string reason = journal.failure();
    if (reason.ends_with('.')) reason.pop_back();  // the system's own full stop
    diag.err() << "\n[MoveProcessedFiles] Error: Unable to write the import journal "
               << journal.path() << ". " << reason << "." << std::endl;
    diag.log("\n[MoveProcessedFiles] Error: Unable to write the import journal %s. %s.\n",
             journal.path(), reason);
  }
  return true;
}

void FinishStoppedBackup(Run& run) {
  if (!run.settings.output_directory) return;
  const std::string path = WithSeparator(*run.settings.output_directory) + kBackupRecordName;
  BackupRecord record;
  if (!ReadBackupRecord(run.env, path, &record)) return;
  Diagnostics& diag = run.diag;
  std::string backup = record.destination_prefix;
  if (!backup.empty()) backup.pop_back();  // the separator
  diag.out() << "\n[MoveProcessedFiles] Notice: An earlier run stopped while moving its input "
                "files to "
             << backup << ". Moving the rest there first." << std::endl;
  diag.log("\n[MoveProcessedFiles] Notice: An earlier run stopped while moving its input files "
           "to %s. Moving the rest there first.\n",
           backup);
  // Those already moved are no longer listed; none left is no error. A name
  // the backup holds already was moved: a file of that name in the input
  // directory now came later (the record outlived its moves) and is this
  // run's to read.
  std::vector<std::string> listed, moved;
  run.env.ListMatches(record.input_prefix + "*.sql", &listed);
  run.env.ListMatches(record.destination_prefix + "*.sql", &moved);
  const std::set<std::string> present(listed.begin(), listed.end());
  const std::set<std::string> gone(moved.begin(), moved.end());
  for (const std::string& name : record.names)
    if (present.count(name) && !gone.count(name))
      MoveOne(run, record.input_prefix, record.destination_prefix, name);
  run.env.RemoveFile(path);
}

}  // namespace tavrin

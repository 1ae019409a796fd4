#include "import/move_processed_files.h"

#include <algorithm>
#include <memory>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "import/backup_record.h"
#include "import/group_tags.h"
#include "import/sha256.h"
#include "import/time_stamped_names.h"
#include "platform/move_by_copy.h"
#include "platform/path.h"

namespace tavrin {
namespace {

// Moves one file without replacing anything and reports the outcome; a
// refusal names the file and the system's reason, and marks the run.
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

// A script that has left the output directory: its bytes, should they come
// again, are a new transaction. A copy the journal has an import of is marked
// whatever it matched (imported, cut short, or its group imported as other
// bytes), with the tag of its group; so is one whose group an earlier run
// held back. One that matched the open import of its group before the group
// grew marks that import, with that one's tag: the files it was of have left
// too. True once the line is on the disk, or when none is due.
bool MarkMoved(ImportJournal& journal, CopyMatcher& copies, Env& env, const std::string& path,
               const std::string& name, const std::string& tag, const std::string& first,
               const std::set<std::string>& held_back_tags) {
  std::string hash;
  if (journal.empty() || !HashFile(env, path, &hash)) return true;
  const CopyMatch match = copies.Match(hash, tag, first);
  if (match.kind == CopyMatch::kNone && (tag.empty() || held_back_tags.count(tag) == 0))
    return true;
  if (match.kind == CopyMatch::kOtherCutShort && match.tag != tag)
    return journal.Record(match.hash, JournalState::kMoved, name, true, match.tag);
  return journal.Record(hash, JournalState::kMoved, name, true, tag);
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


bool Exists(Env& env, const std::string& path) { return env.OpenForReading(path) != nullptr; }

// A search of the output directory. A directory that was searched and holds
// no match is no error; one that cannot be searched is reported.
std::vector<std::string> Matches(Run& run, const std::string& source_prefix,
                                 std::string_view pattern) {
  std::vector<std::string> names;
  if (!run.env.ListMatches(source_prefix + std::string(pattern), &names) &&
      run.env.LastError() != 0) {
    run.diag.err() << "[GroupFileList]Error: Unable to find " << pattern << " files in "
                   << source_prefix << " directory." << std::endl;
    run.diag.log("[GroupFileList] Error: Unable to find %s in %s directory.\n", pattern,
                 source_prefix);
  }
  return names;
}

// What became of one step.
enum class Outcome { kDone, kFailed, kOpen };

// Takes the steps of a record in order, the input files first, and strikes
// each out once its result is on the disk. `checked` says the input steps'
// sizes and hashes were taken from the files just now; otherwise each file is
// read again and compared before anything is done with it.
class StepRunner {
 public:
  StepRunner(Run& run, BackupRecord& record, bool checked)
      : run_(run), env_(run.env), record_(record), checked_(checked) {}

  void Take(const std::vector<std::size_t>& indexes, ImportJournal* journal);
  /// The `first` of this run's scripts' groups, by bare name (CopyMatcher::Match).
  void SetFirsts(std::unordered_map<std::string, std::string> firsts) {
    firsts_ = std::move(firsts);
  }

 private:
  Outcome Input(const BackupStep& step);
  Outcome Script(const BackupStep& step, ImportJournal* journal, CopyMatcher* copies);
  Outcome Move(const BackupStep& step);
  std::string First(const BackupStep& step) const {
    const auto first = firsts_.find(step.name);
    return first == firsts_.end() ? std::string() : first->second;
  }
  void Settle(const std::vector<std::size_t>& indexes, const std::vector<Outcome>& outcomes);

  Run& run_;
  Env& env_;
  BackupRecord& record_;
  bool checked_;
  std::set<std::string> directories_made_;
  std::unordered_map<std::string, std::string> firsts_;
  std::set<std::string> held_back_tags_;  // of the journal's held-back imports
};

// Moves the step's file into its backup directory, made again when gone.
Outcome StepRunner::Move(const BackupStep& step) {
  if (!checked_ && directories_made_.insert(step.backup).second) {
    bool exists = false;
    env_.MakeDirectory(step.backup, &exists);  // a failure shows in the move
  }
  // A file gone meanwhile (reported all the same) leaves nothing to move.
  if (!MoveOne(run_, step.directory, WithSeparator(step.backup), step.name))
    return Exists(env_, step.path()) ? Outcome::kFailed : Outcome::kDone;
  // Within one file system the rename's entries still have to reach the disk.
  if (!env_.SyncEntry(step.destination()) || !env_.SyncEntry(step.path())) return Outcome::kOpen;
  return Outcome::kDone;
}

Outcome StepRunner::Input(const BackupStep& step) {
  Diagnostics& diag = run_.diag;
  const std::string source = step.path(), final_copy = step.destination();
  const std::string partial = final_copy + kCopySuffix;
  if (!checked_ && !Exists(env_, source)) {
    // Moved, or taken away by hand. A copy under way stays unless its
    // original is still there to copy again.
    if (Exists(env_, partial))
      diag.Say(diag.out(),
               "\n[MoveProcessedFiles] Warning: %s was left by a move that stopped, and its "
               "original %s is gone. It is kept: check it by hand.\n",
               partial, source);
    return Outcome::kDone;
  }
  if (checked_) {
    // Read just now: moved as it is.
  } else if (step.size < 0) {
    // A record of the earlier form: a name the backup already holds was
    // moved, and a file of that name now came later.
    if (Exists(env_, final_copy)) return Outcome::kDone;
  } else {
    std::int64_t size = -1;
    std::string sha256;
    if (!SizeAndHash(env_, source, &size, &sha256)) return Outcome::kFailed;
    if (size != step.size || sha256 != step.sha256) {
      diag.Say(diag.out(),
               "\n[MoveProcessedFiles] Notice: %s is not the file an earlier run was moving to "
               "%s (its bytes differ). It is read as a new file.\n",
               source, step.backup);
      return Outcome::kDone;
    }
    if (Exists(env_, final_copy)) {
      // The copy is in place and the original outlived it: finish the move.
      if (!env_.RemoveFile(source)) {
        const std::string reason = env_.ErrorText(env_.LastError());
        diag.Say(diag.err(), "\n[EnumerateAndMoveFiles] Error: Unable to move file %s: %s\n",
                 source, reason);
        run_.errors_reported = true;
        return Outcome::kFailed;
      }
      diag.out() << "\tMoved File :" << step.name << " to " << WithSeparator(step.backup)
                 << std::endl;
      diag.log("\tMoved File :%s to %s\n", step.name, WithSeparator(step.backup));
      return env_.SyncEntry(source) ? Outcome::kDone : Outcome::kOpen;
    }
  }
  // A partial copy of a file still in place is made again.
  if (Exists(env_, partial)) env_.RemoveFile(partial);
  return Move(step);
}

Outcome StepRunner::Script(const BackupStep& step, ImportJournal* journal, CopyMatcher* copies) {
  if (Exists(env_, step.path())) {
    const Outcome moved = Move(step);
    if (moved == Outcome::kFailed || !journal) return moved;
    return MarkMoved(*journal, *copies, env_, step.destination(), step.name, step.tag,
                     First(step), held_back_tags_)
               ? moved
               : Outcome::kOpen;
  }
  // Moved by a run that stopped before its journal line: write it now.
  if (journal && Exists(env_, step.destination()) &&
      !MarkMoved(*journal, *copies, env_, step.destination(), step.name, step.tag, First(step),
                 held_back_tags_))
    return Outcome::kOpen;
  return Outcome::kDone;
}

// Strikes out what is done and marks what failed, one append each.
void StepRunner::Settle(const std::vector<std::size_t>& indexes,
                        const std::vector<Outcome>& outcomes) {
  std::vector<std::size_t> done, failed;
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    if (outcomes[i] == Outcome::kDone) done.push_back(indexes[i]);
    if (outcomes[i] == Outcome::kFailed) failed.push_back(indexes[i]);
  }
  record_.MarkFailed(failed);
  record_.Strike(done);
}

void StepRunner::Take(const std::vector<std::size_t>& indexes, ImportJournal* journal) {
  // Each kind in turn: every input file moves before the scripts, as a stop
  // between two of them must never leave a script moved and its input not.
  std::unique_ptr<CopyMatcher> copies;
  for (const BackupStep::Kind kind :
       {BackupStep::kInput, BackupStep::kScript, BackupStep::kLog, BackupStep::kRemove}) {
    std::vector<std::size_t> taken;
    std::vector<Outcome> outcomes;
    if (kind == BackupStep::kScript && journal) {
      copies = std::make_unique<CopyMatcher>(*journal);
      for (std::size_t i = 0; i < journal->imports().size(); ++i)
        if (journal->HeldBack(i)) held_back_tags_.insert(journal->imports()[i].tag);
    }
    // The output log of an import still open once the scripts have moved
    // stays for the run that settles that import: that run reads the log's
    // errors, and its backup moves it. Its step is struck out all the same.
    std::set<std::string> unsettled;
    if (kind == BackupStep::kLog && journal)
      for (const JournalImport& import : journal->imports())
        if (import.ended.empty() && !import.undone && !import.moved && !import.log.empty())
          unsettled.insert(import.log);
    for (std::size_t index : indexes) {
      const BackupStep& step = record_.steps()[index];
      if (step.kind != kind) continue;
      taken.push_back(index);
      switch (kind) {
        case BackupStep::kInput: outcomes.push_back(Input(step)); break;
        case BackupStep::kScript: outcomes.push_back(Script(step, journal, copies.get())); break;
        case BackupStep::kLog:
          outcomes.push_back(Exists(env_, step.path()) && !unsettled.count(step.name)
                                 ? Move(step)
                                 : Outcome::kDone);
          break;
        case BackupStep::kRemove:
          outcomes.push_back(!Exists(env_, step.path()) ||
                                     (env_.RemoveFile(step.path()) && env_.SyncEntry(step.path()))
                                 ? Outcome::kDone
                                 : Outcome::kFailed);
          break;
      }
    }
    Settle(taken, outcomes);
  }
}

// The journal after the scripts moved: rewritten without what is gone. With
// `group_tags` (the groups found in the input directory), without held-back
// imports of groups that are gone as well.
void CompactJournal(Run& run, ImportJournal& journal,
                    const std::unordered_set<std::string>* group_tags = nullptr) {
  if (journal.DropMoved(group_tags) || run.lock_lost) return;  // a lost lock has said so itself
  run.errors_reported = true;
  std::string reason = journal.failure();
  if (reason.ends_with('.')) reason.pop_back();  // the system's own full stop
  run.diag.Say(run.diag.err(),
               "\n[MoveProcessedFiles] Error: Unable to write the import journal %s. %s.\n",
               journal.path(), reason);
}

// After the steps: the record goes once every step is done; otherwise it
// keeps only the open ones.
void CloseRecord(BackupRecord& record) {
  std::vector<BackupStep> open;
  for (const BackupStep& step : record.steps())
    if (!step.done) open.push_back(step);
  if (open.empty()) {
    record.Remove();
    return;
  }
  if (open.size() == record.steps().size()) return;
  record.Assign(std::move(open));
  record.Write();
}

}  // namespace

void EnumerateAndMoveFiles(Run& run, std::string source_prefix, std::string destination_prefix,
                           std::string_view pattern) {
  for (const std::string& name : Matches(run, source_prefix, pattern))
    MoveOne(run, source_prefix, destination_prefix, name);
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
  const std::string input = WithSeparator(run.settings.input_directory.value_or(""));
  const std::string output = WithSeparator(run.settings.output_directory.value_or(""));

  // Every step on the disk before the first is taken: the open steps of an
  // earlier record (files it could not move), then this run's.
  BackupRecord record(run.env, output + kBackupRecordName);
  record.CheckBeforeRewrite([&run] { return run.LockIntact(); });
  std::vector<BackupStep> steps;
  if (record.Read())
    for (const BackupStep& step : record.steps())
      if (!step.done) steps.push_back(step);
  const std::size_t first = steps.size();
  // A group held back stays in the input directory for the next run: no
  // step of the record names its input files.
  for (const InputFile& file : run.files) {
    if (run.held_back_groups.count(file.group)) continue;
    BackupStep step = BackupStep::Of(BackupStep::kInput, backup, input, file.name);
    // A file that cannot be read is still moved; its step is taken as read.
    if (!SizeAndHash(run.env, input + file.name, &step.size, &step.sha256)) step.size = -1;
    steps.push_back(std::move(step));
  }
  // By bare name, this run's scripts: their groups' tags and first files,
  // and those of held-back groups.
  std::unordered_map<std::string, std::string> tags, firsts;
  std::set<std::string> held_back;
  const auto groups = GroupTags(run.files);
  for (const WrittenScript& written : run.scripts_written) {
    const auto group = groups.find(written.group);
    if (group == groups.end()) continue;
    const std::size_t cut = written.path.rfind(kPathSeparator);
    const std::string name = written.path.substr(cut == std::string::npos ? 0 : cut + 1);
    tags[name] = group->second.tag;
    firsts[name] = group->second.first;
    if (run.held_back_groups.count(written.group)) held_back.insert(name);
  }
  std::vector<std::string> scripts, logs;
  const bool scripts_searched = run.env.ListMatches(output + "*.tvr", &scripts) ||
                                run.env.LastError() == 0;
  const bool logs_searched = run.env.ListMatches(output + "*.olog", &logs) ||
                             run.env.LastError() == 0;
  for (const std::string& name : scripts) {
    // Made again from its input files by the next run.
    if (held_back.count(name)) {
      steps.push_back(BackupStep::Of(BackupStep::kRemove, {}, output, name));
      continue;
    }
    BackupStep step = BackupStep::Of(BackupStep::kScript, backup, output, name);
    const auto tag = tags.find(name);
    if (tag != tags.end()) step.tag = tag->second;
    steps.push_back(std::move(step));
  }
  for (const std::string& name : logs)
    steps.push_back(BackupStep::Of(BackupStep::kLog, backup, output, name));
  record.Assign(std::move(steps));
  // Without the record (an output directory that cannot hold it) the moves
  // go on as they always did; only a stop half-way would cost more. A lock
  // file taken away stops them: another run may be in.
  if (!record.Write() && run.lock_lost) return false;

  std::vector<std::size_t> inputs, rest;
  for (std::size_t i = first; i < record.steps().size(); ++i)
    (record.steps()[i].kind == BackupStep::kInput ? inputs : rest).push_back(i);
  StepRunner runner(run, record, true);
  runner.SetFirsts(std::move(firsts));
  runner.Take(inputs, nullptr);

  // No journal, nothing to forget: no run has imported from here.
  ImportJournal journal(run.env, output + kImportJournalName);
  journal.CheckBeforeRewrite([&run] { return run.LockIntact(); });
  const bool journaled = journal.OpenExisting();
  // Said where the searches always were: after the input files.
  auto unsearched = [&](std::string_view pattern) {
    diag.err() << "[GroupFileList]Error: Unable to find " << pattern << " files in " << output
               << " directory." << std::endl;
    diag.log("[GroupFileList] Error: Unable to find %s in %s directory.\n", pattern, output);
  };
  if (!scripts_searched) unsearched("*.tvr");
  if (!logs_searched) unsearched("*.olog");
  runner.Take(rest, journaled ? &journal : nullptr);
  if (journaled) {
    // The groups still in the input directory, the one -D left out among them.
    std::unordered_set<std::string> found;
    for (const auto& [group, tag] : groups) found.insert(tag.tag);
    for (const auto& [group, tag] : GroupTags(run.discarded_files)) found.insert(tag.tag);
    CompactJournal(run, journal, &found);
  }
  CloseRecord(record);
  return true;
}

bool FinishStoppedBackup(Run& run) {
  if (!run.settings.output_directory) return false;
  const std::string output = WithSeparator(*run.settings.output_directory);
  BackupRecord record(run.env, output + kBackupRecordName);
  record.CheckBeforeRewrite([&run] { return run.LockIntact(); });
  if (!record.Read()) return false;
  Diagnostics& diag = run.diag;
  const std::vector<std::size_t> open = record.OpenSteps();
  // A stop: steps never tried. Steps tried and refused before are tried again
  // without this notice.
  std::vector<std::string> stopped;
  for (std::size_t index : open) {
    const BackupStep& step = record.steps()[index];
    if (!step.failed && std::find(stopped.begin(), stopped.end(), step.backup) == stopped.end())
      stopped.push_back(step.backup);
  }
  for (const std::string& backup : stopped)
    diag.Say(diag.out(),
             "\n[MoveProcessedFiles] Notice: An earlier run stopped while moving its input "
             "files to %s. Moving the rest there first.\n",
             backup);
  ImportJournal journal(run.env, output + kImportJournalName);
  journal.CheckBeforeRewrite([&run] { return run.LockIntact(); });
  const bool journaled = journal.OpenExisting();
  StepRunner(run, record, false).Take(open, journaled ? &journal : nullptr);
  if (journaled) CompactJournal(run, journal);
  CloseRecord(record);
  return true;
}

}  // namespace tavrin

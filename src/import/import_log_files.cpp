#include "import/import_log_files.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "import/backup_record.h"
#include "import/group_tags.h"
#include "import/import_history.h"
#include "import/import_journal.h"
#include "import/output_log_scan.h"
#include "import/script_ending.h"
#include "import/script_order.h"
#include "import/time_stamped_names.h"
#include "platform/path.h"
#include "platform/unique_output.h"

namespace tavrin {
namespace {

struct Script {
  std::string path;
  std::string name;  // bare, as the messages show it
  std::string hash;  // of its bytes, once read (with the EXIT check)
  std::string tag;   // of its group, when this run wrote it
  std::string from;  // its group's first input file, with the tag
  std::string first;  // that file name's SHA-256, its first 16 hex digits
  HistoryHeader header;  // whether it records its import in the database
  std::string id;        // its import id, for a script with the history
  std::optional<std::int32_t> group;  // its group, when this run wrote it
};

// kNotStarted: passed over without a word after an -A stop.
enum class Outcome { kClean, kReportedErrors, kAbort, kNotStarted };

// What the rest of the run makes of a script, beyond its errors.
enum class Fate {
  kGoesOn,    // landed, skipped, or left to the journal's rules
  kHeldBack,  // did not land: its group stays for the next run
  kStops,     // held back, and no later script starts
};

// Each value is one argument of its own: a blank, a quote or an "@" in the
// user or host can never turn into a further argument. The password is not
// among them: any local user can read a command line. -L makes the client
// try the logon once and end when it is refused, instead of asking again.
// -U / without -S is a lone "/": the system's authentication, on the
// database the client's environment names.
std::vector<std::string> SqlPlusArguments(const RunSettings& s, const std::string& script) {
  std::string logon = s.user.value_or("");
  if (!s.external_logon() || s.host) logon += "@" + s.host.value_or("");
  return {"sqlplus", "-L", logon, "@" + script};
}

// A history script also gets its import id as &1 and its name as &2.
std::vector<std::string> SqlPlusArguments(const RunSettings& s, const Script& script,
                                          const std::string& client_path) {
  std::vector<std::string> argv = SqlPlusArguments(s, client_path);
  if (script.header.history) {
    argv.push_back(script.id);
    argv.push_back(ScriptNameArgument(script.name));
  }
  return argv;
}

// What the client reads at its password prompt. After it comes end-of-input,
// so the client never waits on the console. -U / asks for no password: the
// input is empty, and closed at once.
std::string PasswordInput(const RunSettings& s) {
  if (s.external_logon()) return {};
#ifdef _WIN32
  return s.password.value_or("") + "\r\n";
#else
  return s.password.value_or("") + "\n";
#endif
}

std::string BareName(const std::string& path, const std::string& directory) {
  if (path.size() > directory.size() + 1 && path.starts_with(directory))
    return path.substr(directory.size() + 1);
  std::size_t cut = path.rfind(kPathSeparator);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// One line, the same on the console and in the log.
template <typename... Args>
void Say(Diagnostics& diag, std::string_view format, const Args&... args) {
  diag.Say(diag.out(), format, args...);
}

// A script that sqlplus must not be given: empty, or cut short, it would run
// in part; or one whose path the client could not read from its command line.
// The same read hashes the script for the journal and reads whether it keeps
// the import history. `*client_path` is the path to give the client. After
// an -A stop (`quiet`), nothing is said: the script is only looked up.
bool ReadyToImport(Run& run, Script& script, std::string* client_path, bool quiet) {
  Diagnostics& diag = run.diag;
  bool ends = false;
  std::string head;
  if (!ReadScriptEnding(run.env, script.path, &ends, &script.hash, &head, kHistoryHeadBytes)) {
    if (quiet) return false;
    const int error = run.env.LastError();
    Say(diag, "\n[ImportLogFiles] Warning: Unable to read script %s. It is not imported.\n",
        script.path);
    diag.Reason(diag.out(), run.env, error);
    return false;
  }
  script.header = ReadHistoryHeader(head);
  if (quiet) return ends;
  if (!ends) {
    Say(diag,
        "\n[ImportLogFiles] Warning: Script %s does not end with the line EXIT. It is not "
        "imported.\n",
        script.path);
    return false;
  }
  if (!run.env.ClientPath(script.path, client_path)) {
    Say(diag,
        "\n[ImportLogFiles] Warning: The path of script %s cannot be passed to sqlplus in this "
        "system's code page. It is not imported.\n",
        script.path);
    return false;
  }
  return true;
}

// The journal cannot be trusted from here on: no further client may start.
void JournalUnusable(Run& run, const ImportJournal& journal) {
  if (run.lock_lost) return;  // refused for the lock, which said so
  std::string reason = journal.failure();
  if (reason.ends_with('.')) reason.pop_back();  // the system's own full stop
  run.diag.err() << "\n[ImportLogFiles] Error: Unable to write the import journal "
                 << journal.path() << ". " << reason << ". Import abandoned.\n"
                 << std::flush;
  run.diag.log("\n[ImportLogFiles] Error: Unable to write the import journal %s. %s. Import "
               "abandoned.\n",
               journal.path(), reason);
}

bool OpenJournal(Run& run, ImportJournal& journal) {
  if (!journal.Open()) {
    JournalUnusable(run, journal);
    return false;
  }
  const int unreadable = journal.unreadable_lines();
  // A last line cut short goes before any line is written after it.
  const bool torn = journal.torn();
  if (!journal.RemoveTornLine()) {
    JournalUnusable(run, journal);
    return false;
  }
  if (unreadable > 0)
    Say(run.diag,
        "\n[ImportLogFiles] Warning: %d line(s) of the import journal %s could not be read. "
        "They are ignored%s.\n",
        unreadable, journal.path(), torn ? "; a last line cut short is removed" : "");
  return true;
}

// The script's name for messages, and the input file it came from when
// this run wrote it.
std::string Named(const Script& script) {
  return script.tag.empty() ? script.name : script.name + " (from " + script.from + ")";
}

bool ReadWholeFile(Env& env, const std::string& path, std::string* bytes) {
  auto file = env.OpenForReading(path);
  if (!file) return false;
  char buffer[4096];
  for (;;) {
    const long long n = file->Read(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(buffer, static_cast<std::size_t>(n));
  }
}

bool ReportErrorsIn(Run& run, const std::string& script_name, const std::string& log_path);
bool ReportErrors(Run& run, const std::string& script_name, const std::string& log_path,
                  const OutputLogErrors& errors);

// Where the output log `bare_name` of an earlier run's import is now: the
// output directory, or the backup directory the backup's record names.
// Empty when it is in neither.
std::string FindOutputLog(Run& run, const std::string& bare_name) {
  const std::string directory = run.settings.output_directory.value_or("");
  std::vector<std::string> found;
  const auto present = [&](const std::string& path) {
    return run.env.ListMatches(path, &found) && !found.empty();
  };
  if (const std::string path = JoinPath(directory, bare_name); present(path)) return path;
  BackupRecord record(run.env, JoinPath(directory, kBackupRecordName));
  if (record.Read())
    for (const std::string& backup : record.BackupDirectories())
      if (const std::string path = JoinPath(backup, bare_name); present(path)) return path;
  return {};
}

// An earlier run's import that the probe found committed: its output log
// is read as after any import. True when it shows errors, or when it cannot
// be found to be checked.
bool ReportSettledImport(Run& run, const std::string& named, const std::string& script_name,
                         const std::string& log_name) {
  if (log_name.empty()) return false;  // a line from before output logs were recorded
  const std::string path = FindOutputLog(run, log_name);
  if (!path.empty()) return ReportErrorsIn(run, script_name, path);
  Say(run.diag,
      "\n[ImportLogFiles] Warning: The output log %s of %s is not in the output directory. Its "
      "errors could not be checked.\n",
      log_name, named);
  return true;
}

// The import history, as this run has found it so far.
struct History {
  bool usable = false;  // a probe has answered
  int start_error = 0;  // why the last probe's client could not start; 0: it started
};

// Runs the probe for `id` into a history log of its own. The answer, or none
// when the probe could not be made, run, or read, or did not answer in time;
// `*log_path` names the probe's output log when there is one.
std::optional<int> Probe(Run& run, History& history, const std::string& id,
                         std::string* log_path) {
  const std::string directory = run.settings.output_directory.value_or("");
  log_path->clear();
  auto output_log = CreateUniqueOutput(run.env, HistoryLogStem(directory, run.env.UtcNow()),
                                       kOutputLogExtension, log_path);
  if (!output_log) {
    *log_path = HistoryLogStem(directory, run.env.UtcNow()) + kOutputLogExtension;
    return std::nullopt;
  }
  const std::string probe_path = JoinPath(directory, kProbeScriptName);
  auto probe = run.env.CreateOutput(probe_path);
  bool written = probe != nullptr;
  if (probe) {
    written = probe->Append(ProbeScriptText()) && probe->Sync();
    written = probe->Close() && written;
  }
  if (written && !run.LockIntact()) written = false;  // no client once the lock file is gone
  std::optional<int> answer;
  if (written) {
    ChildCommand child;
    child.argv = SqlPlusArguments(run.settings, probe_path);
    child.argv.push_back(id);
    child.stdout_file = output_log.get();
    child.stdin_text = PasswordInput(run.settings);
    child.timeout_seconds = kProbeTimeoutSeconds;
    ChildExit exit;
    const bool ran = run.env.RunChild(child, &exit);
    history.start_error = ran ? 0 : run.env.LastError();
    const bool complete = output_log->Close();
    if (ran && !exit.timed_out && complete) {
      std::string bytes;
      if (ReadWholeFile(run.env, *log_path, &bytes)) answer = ProbeAnswer(bytes);
    }
  } else {
    output_log->Close();
  }
  if (probe) run.env.RemoveFile(probe_path);
  if (answer) history.usable = true;
  return answer;
}

// Before the first history script is imported: the table must be there and
// take the user's rows. False, with the error shown, when it cannot be used.
bool HistoryUsable(Run& run, History& history) {
  if (history.usable) return true;
  std::string id, log_path;
  if (NewImportId(run.env, &id) && Probe(run, history, id, &log_path)) return true;
  if (run.lock_lost) return false;  // said already
  run.diag.Say(run.diag.err(),
               "\n[ImportLogFiles] Error: The import history TAVRIN_IMPORTS cannot be used (see "
               "%s). Import abandoned.\n",
               log_path);
  // A client that never started left its log empty: the system says why.
  run.diag.Reason(run.diag.err(), run.env, history.start_error);
  return false;
}

// Looks up the import the script's copy matches, by its hash: true when it is
// to be imported. A script the journal shows as imported is passed over
// without error; one whose import an earlier run left unfinished, or whose
// group went in as other bytes, is passed over as an error, since part of it
// may be in the database. An import left unfinished that recorded itself in
// the import history, and cannot have committed part of itself, is settled
// by the probe instead. -F imports any of them. `*cut_short` tells that the
// script was passed over as cut short. After an -A stop (`stopped`) only
// the notice of an import and the warning of other bytes are given; any
// other script is not started (kNotStarted).
bool JournalAllows(Run& run, CopyMatcher& journal, ImportJournal& records, History& history,
                   Script& script, bool stopped, Outcome* outcome, bool* cut_short) {
  Diagnostics& diag = run.diag;
  *outcome = Outcome::kReportedErrors;
  if (run.settings.force) {
    if (stopped) *outcome = Outcome::kNotStarted;
    return !stopped;
  }
  const CopyMatch match = journal.Match(script.hash, script.tag, script.first);
  if (stopped && match.kind != CopyMatch::kEnded && match.kind != CopyMatch::kOtherBytes) {
    *outcome = Outcome::kNotStarted;
    return false;
  }
  const bool other = match.kind == CopyMatch::kOtherCutShort;
  const auto other_bytes = [&] {
    Say(diag,
        "\n[ImportLogFiles] Warning: %s was imported before as other bytes; skipped. Use -F "
        "to import it again.\n",
        Named(script));
    return false;
  };
  switch (match.kind) {
    case CopyMatch::kNone:
      return true;
    case CopyMatch::kEnded:
      *outcome = Outcome::kClean;
      Say(diag,
          "\n[ImportLogFiles] Notice: %s was imported on %s; skipped. Use -F to import it "
          "again.\n",
          Named(script), match.time);
      return false;
    case CopyMatch::kOtherBytes:
      return other_bytes();
    case CopyMatch::kCutShort:
    case CopyMatch::kOtherCutShort:
      // An import of other bytes is probed whatever this run's switches:
      // this script's header says nothing of that one's.
      if (!match.id.empty() && !match.not_atomic &&
          (other || (script.header.history && !script.header.not_atomic))) {
        // The database knows whether that import committed: ask it.
        std::string log_path;
        const std::optional<int> answer = Probe(run, history, match.id, &log_path);
        if (run.lock_lost) {
          *outcome = Outcome::kAbort;
          return false;
        }
        // Closes the old import's started line with what the history showed.
        const auto close = [&](JournalState state) {
          if (records.Record(other ? match.hash : script.hash, state, script.name, true,
                             match.tag, match.id))
            return true;
          JournalUnusable(run, records);
          *outcome = Outcome::kAbort;
          return false;
        };
        if (answer == 1) {
          if (!close(JournalState::kEnded)) return false;
          if (other)
            other_bytes();
          else
            Say(diag,
                "\n[ImportLogFiles] Notice: %s was imported before an earlier run stopped (the "
                "database's history shows it); skipped.\n",
                Named(script));
          // What that import's client printed is read now, as after any import.
          const bool errors = ReportSettledImport(run, Named(script), script.name, match.log);
          if (!other) *outcome = errors ? Outcome::kReportedErrors : Outcome::kClean;
          return false;
        }
        if (answer == 0) {
          if (!close(JournalState::kUndone)) return false;
          if (other && match.other_ended) return other_bytes();
          Say(diag,
              "\n[ImportLogFiles] Notice: %s was cut short by an earlier run and the database "
              "holds none of it; importing it again.\n",
              Named(script));
          return true;
        }
      } else if (other) {
        *cut_short = true;
        Say(diag,
            "\n[ImportLogFiles] Warning: %s (from %s) was being imported as other bytes when an "
            "earlier run stopped; it may be partly in the database. Skipped: check the database "
            "(see the README, After a stopped run).\n",
            script.name, script.from);
        return false;
      }
      break;
  }
  *cut_short = true;
  Say(diag,
      "\n[ImportLogFiles] Warning: %s was being imported when an earlier run stopped; it may be "
      "partly in the database. Skipped: check the database; to import this script alone, copy it "
      "into an empty folder and run tavrin -I -F there.\n",
      Named(script));
  return false;
}

// Reads back what SQL*Plus printed; true when it shows errors.
// `scanned`, when given, is that log's scan already made.
bool ReportOutputLog(Run& run, const Script& script, const std::string& log_path,
                     const OutputFile& output_log, bool log_complete,
                     const OutputLogErrors* scanned) {
  Diagnostics& diag = run.diag;
  if (!log_complete) {
    // The system lost some of what the client printed: no scan can clear it.
    Say(diag,
        "\n[ImportLogFiles] Warning: Unable to complete output log %s. Its errors could not be "
        "checked.\n",
        log_path);
    diag.Reason(diag.out(), run.env, output_log.LastError());
    return true;
  }
  if (scanned) return ReportErrors(run, script.name, log_path, *scanned);
  return ReportErrorsIn(run, script.name, log_path);
}

// Scans a whole output log; true when it shows errors or cannot be read.
bool ReportErrorsIn(Run& run, const std::string& script_name, const std::string& log_path) {
  Diagnostics& diag = run.diag;
  OutputLogErrors errors;
  if (!ScanOutputLog(run.env, log_path, &errors)) {
    // What cannot be checked must not pass for a clean import.
    const int error = run.env.LastError();
    Say(diag,
        "\n[ImportLogFiles] Warning: Unable to read output log %s. Its errors could not be "
        "checked.\n",
        log_path);
    diag.Reason(diag.out(), run.env, error);
    return true;
  }
  return ReportErrors(run, script_name, log_path, errors);
}

// The errors a scan of an output log found; true when there are any.
bool ReportErrors(Run& run, const std::string& script_name, const std::string& log_path,
                  const OutputLogErrors& errors) {
  if (errors.count == 0) return false;
  Say(run.diag,
      "\n[ImportLogFiles] Warning: SQL*PLUS reported %d error(s) for file %s: %s. Check its "
      "output log %s.\n",
      errors.count, script_name, errors.first_error, log_path);
  return true;
}

// A history script's id, once the history is known to work.
Outcome ReadyHistory(Run& run, History& history, Script& script) {
  if (!HistoryUsable(run, history)) return Outcome::kAbort;
  if (NewImportId(run.env, &script.id)) return Outcome::kClean;
  run.diag.Say(run.diag.err(),
               "\n[ImportLogFiles] Error: Unable to read the system's random source. %s Import "
               "abandoned.\n",
               run.env.ErrorText(run.env.LastError()));
  return Outcome::kAbort;
}

// Today's report of a client that ended: its exit status, then what it
// printed.
Outcome ReportEnd(Run& run, const Script& script, const std::string& log_path,
                  const OutputFile& output_log, bool log_complete, const ChildExit& exit,
                  const OutputLogErrors* scanned = nullptr) {
  Diagnostics& diag = run.diag;
  const bool failed = exit.signaled || exit.code != 0;
  if (failed) {
    const int code = exit.signaled ? -exit.code : exit.code;
    diag.out() << "\n[ImportLogFiles] Warning: SQL*PLUS ended with exit code " << code
               << " for file " << script.name << ". Check its output log " << log_path << ".\n"
               << std::flush;
    diag.log(
        "\n[ImportLogFiles] Warning: SQL*PLUS ended with exit code %d for file %s. Check its "
        "output log %s.\n",
        code, script.name, log_path);
  }
  // The client exits 0 when blocks fail: only its output tells.
  const bool reported =
      ReportOutputLog(run, script, log_path, output_log, log_complete, scanned);
  return failed || reported ? Outcome::kReportedErrors : Outcome::kClean;
}

// A client killed by a signal; on Windows, one ended with an exception's
// status.
bool EndedBySignal(const ChildExit& exit) {
#ifdef _WIN32
  return exit.signaled || static_cast<unsigned int>(exit.code) >= 0xC0000000u;
#else
  return exit.signaled;
#endif
}

// A script with the -A header, or one with the history whose client did not
// end cleanly: landed, refused, or uncertain (the stop); with the history,
// the probe of its id settles what the client's end leaves open. `later`
// counts the scripts after it in this run's list.
Outcome SettleImport(Run& run, History& history, ImportJournal& journal, const Script& script,
                     const std::string& log_path, const OutputFile& output_log,
                     bool log_complete, const ChildExit& exit, int later, Fate* fate) {
  Diagnostics& diag = run.diag;
  const HistoryHeader& header = script.header;
  const bool failed = exit.signaled || exit.code != 0;
  OutputLogErrors errors;
  const bool scanned = log_complete && ScanOutputLog(run.env, log_path, &errors);
  // A failure to record shows before the next client starts, or at the end.
  const auto ended = [&] {
    journal.Record(script.hash, JournalState::kEnded, script.name, false, script.tag, script.id);
    return ReportEnd(run, script, log_path, output_log, log_complete, exit,
                     scanned ? &errors : nullptr);
  };
  if (header.atomic_header && !failed && scanned && errors.class_count == 0) return ended();

  // Refused: the client ended itself on an error, its connection intact,
  // and an atomic script rolled all of itself back.
  const bool refused = header.atomic_header && !header.not_atomic && failed &&
                       !EndedBySignal(exit) && scanned && errors.class_count > 0 &&
                       !errors.lost_connection;
  // An answer of 1 for a script that may commit part of itself would prove
  // only that part: such a script is never probed.
  std::optional<int> answer;
  if (header.history && !header.not_atomic) {
    std::string probe_log;
    answer = Probe(run, history, script.id, &probe_log);
    if (run.lock_lost) return Outcome::kAbort;
  }
  if (answer == 1) {
    ended();
    return Outcome::kReportedErrors;
  }
  const auto undone = [&] {
    journal.Record(script.hash, JournalState::kUndone, script.name, true, script.tag, script.id);
  };
  if (!header.atomic_header) {
    // -H alone: the scripts are not kept in order, so the import goes on.
    if (answer == 0) {
      undone();
      *fate = Fate::kHeldBack;
      Say(diag,
          "\n[ImportLogFiles] Warning: %s did not end cleanly and the database holds none of it "
          "(see %s); it is left for the next run.\n",
          Named(script), log_path);
      return Outcome::kReportedErrors;
    }
    // No ended line: the next run finds the import cut short.
    ReportEnd(run, script, log_path, output_log, log_complete, exit, scanned ? &errors : nullptr);
    return Outcome::kReportedErrors;
  }
  *fate = Fate::kStops;
  if (answer == 0 || (refused && !header.history)) {
    undone();
    std::string first = errors.class_first_error;
    if (first.ends_with('.')) first.pop_back();
    if (first.empty())  // settled by the probe: nothing printed says why
      first = "SQL*PLUS ended with exit code " +
              std::to_string(exit.signaled ? -exit.code : exit.code);
    Say(diag,
        "\n[ImportLogFiles] Warning: %s was refused by the database and rolled back: %s. Nothing "
        "of it is in the database; it and %d later script(s) are left for the next run. Check "
        "its output log %s.\n",
        Named(script), first, later, log_path);
    return Outcome::kReportedErrors;
  }
  // The started line stays open, as after a stop.
  Say(diag,
      "\n[ImportLogFiles] Warning: %s did not end cleanly, and whether the database kept it is "
      "unknown. It and %d later script(s) are left for the next run; see the README, After a "
      "stopped run.\n",
      Named(script), later);
  return Outcome::kReportedErrors;
}

// Runs one script into a new output log of its own. `later` counts the
// scripts after it in this run's list; `*fate` tells what the rest of the
// run makes of it.
Outcome ImportScript(Run& run, History& history, const Script& script,
                     const std::string& client_path, int sequence, ImportJournal& journal,
                     int later, Fate* fate) {
  Diagnostics& diag = run.diag;
  const std::string directory = run.settings.output_directory.value_or("");

  // A log of an earlier run in the same second keeps its name and bytes.
  std::string log_path;
  auto output_log = CreateUniqueOutput(
      run.env, OutputLogStem(directory, sequence, run.env.UtcNow()), kOutputLogExtension,
      &log_path);
  if (!output_log) {
    const int error = run.env.LastError();
    diag.out() << "\nError: Could not create the output log file. Error number :(" << error
               << ").\n"
               << std::flush;
    diag.log("\nError: Could not create the output log file. Error number :(%d).\n", error);
    diag.Reason(diag.out(), run.env, error);
    return Outcome::kAbort;
  }
  // On the disk before the client starts: whatever stops this run from here
  // on, the next one will not import the script again unasked.
  StartedFields fields;
  const std::string log_name = BareName(log_path, directory);
  fields.log = log_name;
  fields.first = script.first;
  fields.not_atomic = script.header.not_atomic;
  if (!journal.Record(script.hash, JournalState::kStarted, script.name, true, script.tag,
                      script.id, fields)) {
    JournalUnusable(run, journal);
    return Outcome::kAbort;
  }
  if (!run.LockIntact()) return Outcome::kAbort;  // the started line stays, as after a kill

  diag.out() << "\n\nImporting data from file == " << script.name << "== to SQL*PLUS started ..."
             << std::endl;
  diag.log("\n\nImporting data from file %s to SQL*PLUS...\n", script.name);

  ChildCommand child;
  child.argv = SqlPlusArguments(run.settings, script, client_path);
  // Only the child's standard output goes to the log; its errors, and
  // everything we print ourselves, stay on the console. Its input is the
  // password alone.
  child.stdout_file = output_log.get();
  child.stdin_text = PasswordInput(run.settings);
  ChildExit exit;
  if (!run.env.RunChild(child, &exit)) {
    const int error = run.env.LastError();
    diag.out() << "\nError executing the sqlplus command. Process will be aborted. Error number :("
               << error << ").\n"
               << std::flush;
    diag.log("\nError executing the sqplus command. Process will be aborted. Error number :(%d).\n",
             error);
    diag.Reason(diag.out(), run.env, error);
    // Nothing ran: the script must not look half-imported to the next run.
    if (!journal.Withdraw()) JournalUnusable(run, journal);
    return Outcome::kAbort;
  }
  const bool log_complete = output_log->Close();
  if (script.header.atomic_header || (script.header.history && (exit.signaled || exit.code != 0)))
    return SettleImport(run, history, journal, script, log_path, *output_log, log_complete, exit,
                        later, fate);
  // A failure here shows before the next client starts, or at the end.
  journal.Record(script.hash, JournalState::kEnded, script.name, false, script.tag, script.id);
  return ReportEnd(run, script, log_path, *output_log, log_complete, exit);
}

// The scripts of this run's parse, in group order. Every other script in the
// output directory was left by an earlier run: it is named and passed over,
// never imported again.
std::vector<Script> ScriptsThisRunWrote(Run& run, const std::string& directory) {
  std::vector<Script> scripts;
  const auto tags = GroupTags(run.files);
  for (const WrittenScript& written : run.scripts_written) {
    const auto tag = tags.find(written.group);
    scripts.push_back({written.path, BareName(written.path, directory), {},
                       tag == tags.end() ? std::string() : tag->second.tag,
                       tag == tags.end() ? std::string() : tag->second.first_file,
                       tag == tags.end() ? std::string() : tag->second.first, {}, {},
                       written.group});
  }

  std::vector<std::string> present;
  if (!run.env.ListMatches(JoinPath(directory, "*.tvr"), &present)) return scripts;
  SortScriptNames(&present);
  for (const std::string& name : present) {
    if (std::any_of(scripts.begin(), scripts.end(),
                    [&](const Script& s) { return s.name == name; }))
      continue;
    const std::string path = JoinPath(directory, name);
    Say(run.diag,
        "\n[ImportLogFiles] Notice: Script %s was not written by this run. It is not "
        "imported.\n",
        path);
  }
  return scripts;
}

}  // namespace

bool ImportLogFiles(Run& run) {
  Diagnostics& diag = run.diag;
  const RunSettings& s = run.settings;

  if (s.parse && run.files.empty()) {
    diag.out() << "\n\n[ImportLogFiles] Warning: Parse file list found empty. Skipped the Import..."
               << std::endl
               << std::endl;
    diag.log(
        "\n\n[ImportLogFiles] Warning: Parse file list found empty. Skipped the Import...\n\n");
    return true;
  }
  if (!s.user || (!s.password && !s.external_logon())) {
    diag.out() << "\n\n[ImportLogFiles] Error: UserName/Password not specified. Import abandoned..."
               << std::endl
               << std::endl;
    diag.log("\n\n[ImportLogFiles]Error: UserName/Password not specified. Import abandoned...\n\n");
    return false;
  }

  const std::string directory = s.output_directory.value_or("");
  std::vector<Script> scripts;
  if (s.parse) {
    scripts = ScriptsThisRunWrote(run, directory);
  } else {
    const std::string pattern = JoinPath(directory, "*.tvr");
    std::vector<std::string> names;
    if (!run.env.ListMatches(pattern, &names)) {
      diag.err() << "\n[ImportLogFiles]Error: Unable to find import files in the directory"
                 << pattern << std::endl;
      diag.log("\n[ImportLogFiles]Error: Unable to find import files in the directory %s",
               pattern);
      return false;
    }
    SortScriptNames(&names);
    for (const std::string& name : names)
      scripts.push_back({JoinPath(directory, name), name, {}, {}, {}, {}, {}, {}, {}});
  }

  ImportJournal journal(run.env, JoinPath(directory, kImportJournalName));
  journal.CheckBeforeRewrite([&run] { return run.LockIntact(); });
  if (!scripts.empty() && !OpenJournal(run, journal)) return false;

  CopyMatcher copies(journal);
  History history;
  int sequence = 0;
  int with_errors = 0;
  // Whether the -A stops apply: the run was given -A, or a script so far
  // had the -A header. Once stopped, no further client starts.
  bool atomic = s.atomic;
  bool stopped = false;
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    Script& script = scripts[i];
    const int later = static_cast<int>(scripts.size() - i - 1);
    Outcome outcome = Outcome::kReportedErrors;
    Fate fate = Fate::kGoesOn;
    std::string client_path;
    bool cut_short = false;
    const bool ready = ReadyToImport(run, script, &client_path, stopped);
    atomic = atomic || script.header.atomic_header;
    if (!ready) {
      if (stopped) outcome = Outcome::kNotStarted;
      else if (atomic) fate = Fate::kStops;
    } else if (JournalAllows(run, copies, journal, history, script, stopped, &outcome,
                             &cut_short)) {
      outcome = script.header.history ? ReadyHistory(run, history, script) : Outcome::kClean;
      if (outcome == Outcome::kClean)
        outcome =
            ImportScript(run, history, script, client_path, ++sequence, journal, later, &fate);
    } else if (cut_short && atomic) {
      fate = Fate::kStops;
    }
    if (outcome == Outcome::kAbort) return false;
    if (outcome == Outcome::kReportedErrors) ++with_errors;
    // Its input files stay for the next run.
    if ((outcome == Outcome::kNotStarted || fate != Fate::kGoesOn) && script.group)
      run.held_back_groups.insert(*script.group);
    if (fate == Fate::kStops) stopped = true;
  }
  if (!journal.Close()) {
    JournalUnusable(run, journal);
    return false;
  }
  if (with_errors > 0) {
    run.errors_reported = true;
    Say(diag, "\n[ImportLogFiles] %d of %d scripts reported errors. Check their output logs.\n",
        with_errors, static_cast<int>(scripts.size()));
  }
  return true;
}

}  // namespace tavrin

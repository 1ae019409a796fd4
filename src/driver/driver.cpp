#include "driver/driver.h"

#include "driver/banner.h"
#include "driver/option_letters.h"
#include "driver/option_scanner.h"
#include "driver/output_lock.h"
#include "driver/usage.h"
#include "grouping/group_file_list.h"
#include "import/import_log_files.h"
#include "import/journal_status.h"
#include "import/move_processed_files.h"
#include "platform/path.h"
#include "run/run.h"
#include "script/parse_file_list.h"

namespace tavrin {
namespace {

enum class OptionsResult { kRun, kExitSuccess, kExitFailure };

// The option that stopped the scan, before the usage.
void NameBadOption(Diagnostics& diag, const OptionScanner& scanner) {
  const std::string& option = scanner.bad_option();
  if (scanner.missing_value())
    diag.Say(diag.err(), "[Tavrin] Error: Option %s needs a value.\n", option);
  else
    diag.Say(diag.err(), "[Tavrin] Error: Unknown option %s.%s\n", option,
             option == "--help" ? " Use -h." : "");
}

OptionsResult ScanOptions(int argc, const char* const* argv, Run& run) {
  const char* program = argc > 0 ? argv[0] : "";
  OptionScanner scanner(argc, argv, kOptionLetters);
  RunSettings& s = run.settings;
  for (;;) {
    int option = scanner.Next();
    // End of options is told by the low byte alone, as operators' scripts
    // have always seen it: any result whose low byte is 255 ends the scan.
    if ((option & 0xFF) == 255) {
      if (scanner.index() < argc) s.beside_status = true;
      return OptionsResult::kRun;
    }
    if (option != 'J' && option != 'o' && option != 'l') s.beside_status = true;
    switch (option) {
      case 'h':
        WriteFullUsage(run.diag.err(), program);
        return OptionsResult::kExitSuccess;
      case 'p': s.parse = true; break;
      case 'I': s.import = true; break;
      case 'm': s.move = true; break;
      case 'e': s.fail_on_reported_errors = true; break;
      case 'F': s.force = true; break;
      case 'R': s.read_order = true; break;
      case 'H': s.history = true; break;
      case 'A': s.atomic = true; break;
      case 'J': s.status = true; break;
      case 'D': s.discard_last_group = true; break;
      case 'U': s.user = scanner.argument(); break;
      case 'P': s.password = scanner.argument(); break;
      case 'S': s.host = scanner.argument(); break;
      case 'i': s.input_directory = scanner.argument(); break;
      case 'o': s.output_directory = scanner.argument(); break;
      case 'l':
        if (!run.diag.StartLogging(run.env)) return OptionsResult::kExitFailure;
        break;
      default:
        NameBadOption(run.diag, scanner);
        WriteShortUsage(run.diag.err(), program);
        return OptionsResult::kExitFailure;
    }
  }
}

// A missing setting: the text on standard error, and in the log with the
// given ending.
bool Missing(Run& run, const char* text, const char* log_text) {
  run.diag.err() << text << std::endl;
  run.diag.log(log_text);
  return false;
}

// An empty value, as an unset variable in a batch file gives, counts as not
// given: `-o ""` must not mean the root directory.
void ForgetEmptyValues(RunSettings& s) {
  for (auto* value : {&s.user, &s.password, &s.host, &s.input_directory, &s.output_directory})
    if (value->has_value() && (*value)->empty()) value->reset();
}

// Without -P, or with an empty one, the password comes from the
// environment, where other local users cannot read it. -U / takes none.
void PasswordFromEnvironment(Run& run) {
  RunSettings& s = run.settings;
  if (s.password || s.external_logon()) return;
  std::optional<std::string> value = run.env.Variable("TAVRIN_PASSWORD");
  if (value && !value->empty()) s.password = std::move(value);
}

// -J: what the journal holds. No lock, no stage, no file written.
int ShowStatus(Run& run) {
  Diagnostics& diag = run.diag;
  ForgetEmptyValues(run.settings);
  if (run.settings.beside_status) {
    diag.Say(diag.err(), "\n\n[Tavrin] Error: -J takes only -o and -l.\n");
    return 1;
  }
  if (!run.settings.output_directory) {
    diag.Say(diag.err(), "\n\n[Tavrin] Error: -J needs -o.\n");
    return 1;
  }
  return ShowJournalStatus(run, JoinPath(*run.settings.output_directory, kOutputLockName));
}

// The checks and stages after the options; false on the first failure.
bool ValidateAndRunStages(int argc, const char* program, Run& run) {
  ForgetEmptyValues(run.settings);
  PasswordFromEnvironment(run);
  const RunSettings& s = run.settings;
  Diagnostics& diag = run.diag;

  if (argc < 3 || (!s.parse && !s.import)) {
    diag.out() << "\n[Error] : Invalid number of arguments specified."
               << "Please check if you have provided either -p or -I switch and appropriate "
                  "number of arguments. Process aborted."
               << std::endl << std::endl;
    WriteShortUsage(diag.err(), program);
    diag.log("[%s] Invalid number of arguments specified. Please check if you have provided "
             "either -p or -I switch and appropriate number of arguments. Process aborted.\n",
             DriverSourcePath());
    return false;
  }

  // A password with -U / would be ignored: the operator meant another logon.
  if (s.external_logon() && s.password) {
    diag.Say(diag.err(), "\n\n[Tavrin] Error: -U / logs on without a password; leave out -P.\n");
    return false;
  }

  // Held until the run ends; before anything is read or written.
  if (!LockOutputDirectory(run)) return false;
  // Before any stage reads an input file, and also when none is left.
  const bool backup_finished = FinishStoppedBackup(run);
  if (run.lock_lost) return false;

  if (s.parse) {
    if (!s.input_directory)
      return Missing(run, "\n\n[Tavrin] Error: Grouping of files failed. Input directory not specified.",
                     "\n\n[Tavrin] Error: Grouping of files failed. Input directory not specified.\n");
    if (!s.output_directory)
      return Missing(run, "\n\n[Tavrin] Error: Parsing of files failed. Output directory not specified.",
                     "\n[Tavrin] Error: Parsing of files failed. Output directory not specified.\n");
    const Grouping grouping = GroupFileList(run, backup_finished);
    if (grouping == Grouping::kNothing) return true;
    if (grouping == Grouping::kFailed) {
      const char* text = "\n\n[Tavrin]Error: Unable to group SQL input file. Process will be aborted\n";
      diag.out() << text;
      diag.log(text);
      return false;
    }
    if (!ParseFileList(run)) {
      const char* text = "\n\n[Tavrin]Error: Unable to parse SQL input file. Process will be aborted\n";
      diag.out() << text;
      diag.log(text);
      return false;
    }
  }

  if (s.import) {
    if (!s.output_directory)
      return Missing(run, "\n\n[Tavrin] Error: Unable to import files. No import directory specified.",
                     "\n\n[Tavrin] Error: Unable to import files. No import directory specified.\n");
    if (s.user.has_value() != s.password.has_value() && !s.external_logon())
      return Missing(run, "\n\n[Tavrin] Error: Invalid username/password specified.",
                     "\n\n[Tavrin] Error: Invalid username/password specified.\n");
    // -U / alone: the client's environment names the database.
    if (!s.host && !s.external_logon())
      return Missing(run, "\n\n[Tavrin] Error: Oracle Host Identifier not specified.",
                     "\n\n[Tavrin] Error: Oracle Host Identifier not specified.\n");
    if (!ImportLogFiles(run)) {
      if (run.lock_lost) return false;  // said already, and nothing more is to be done
      diag.out() << "\n[Tavrin]Error: Unable to import SQL log files. Process will be aborted\n";
      diag.log("[%s] Error: Unable to import SQL log files. Process will be aborted\n",
               DriverSourcePath());
      return false;
    }
  }

  // The backup's result does not change the run's, unless the lock file
  // went away, before or during it: then nothing more is done.
  if (s.move && run.LockIntact()) MoveProcessedFiles(run);
  return !run.lock_lost;
}

}  // namespace

const char* DriverSourcePath() { return __FILE__; }

int RunTavrin(int argc, const char* const* argv, Env& env, std::ostream& out,
              std::ostream& err) {
  // The log file closes with `run`, on every way out.
  Run run(env, out, err);

  out << std::endl;
  out << BuildBanner(env) << "(Oracle version)" << std::endl << std::endl;
  const std::int64_t start = env.CalendarSeconds();

  switch (ScanOptions(argc, argv, run)) {
    case OptionsResult::kExitSuccess: return 0;
    case OptionsResult::kExitFailure: return 1;
    case OptionsResult::kRun: break;
  }
  if (run.settings.status) return ShowStatus(run);  // without the elapsed time
  if (!ValidateAndRunStages(argc, argc > 0 ? argv[0] : "", run)) return 1;

  const std::int64_t end = env.CalendarSeconds();
  out << "\nTime elapsed :" << static_cast<double>(end - start) << " secs" << std::endl;
  // Decided after the backup, which may report errors of its own. A
  // scheduler reads 2 as "imported with errors".
  if (run.settings.fail_on_reported_errors && run.errors_reported) return 2;
  return 0;
}

}  // namespace tavrin

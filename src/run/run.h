#pragma once
// Everything one run shares between its stages: the settings, the input file
// list, the messages and the operating system. The driver owns one; a test
// builds a fresh one.

#include <cstdint>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "diag/diagnostics.h"
#include "platform/env.h"
#include "run/input_file_list.h"
#include "run/run_settings.h"

namespace tavrin {

/// A script the parse stage wrote, and the group whose script it is.
struct WrittenScript {
  std::string path;
  std::int32_t group = 0;
};

struct Run {
  Run(Env& system, std::ostream& out, std::ostream& err) : env(system), diag(out, err) {}

  Env& env;
  Diagnostics diag;
  RunSettings settings;
  InputFileList files;
  /// The last group's files when -D left it out: it stays in the input
  /// directory, and the backup must know it is there.
  InputFileList discarded_files;
  /// The scripts this run's parse stage wrote, in group order (full paths).
  std::vector<WrittenScript> scripts_written;
  /// Groups whose script did not land, or was not started after an import
  /// stopped: their input files stay in the input directory for the next run.
  std::set<std::int32_t> held_back_groups;
  /// A script reported errors or the backup failed; with -e the run ends
  /// with exit code 2.
  bool errors_reported = false;

  /// The output directory's lock (driver/output_lock.h), held for the whole
  /// run; null when the directory cannot hold the lock file.
  std::unique_ptr<HeldLock> lock;
  std::string lock_path;
  /// Set once the lock file was found deleted or replaced: the run changes
  /// nothing more and ends with exit code 1.
  bool lock_lost = false;

  /// Whether this run is still the only one that can hold the output
  /// directory: true while its lock file is the one at the lock's path, or
  /// it holds no lock. Asked before each step that another run beside it
  /// would make a second import of: a client's start, a rewrite of the
  /// journal or the backup record, the backup. The first time the file is
  /// gone or replaced, says so on standard error and in the log; from then
  /// on it is false.
  bool LockIntact() {
    if (lock_lost) return false;
    if (!lock || lock->Intact()) return true;
    lock_lost = true;
    diag.Say(diag.err(),
             "\n[ImportLogFiles] Error: The lock file %s was deleted or replaced while this run "
             "held it. Import abandoned.\n",
             lock_path);
    return false;
  }
};

}  // namespace tavrin

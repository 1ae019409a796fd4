#pragma once
// -J: what the journal of an output directory holds, told script by script
// for an operator or a monitor. It reads the journal, the backup record and
// the scripts, and changes nothing: no lock is taken (the lock file is only
// tested, and never created), no finisher runs, no file is written.

#include <string>

#include "run/run.h"

namespace tavrin {

/// Prints on standard output one line per import of the output directory's
/// journal that was not moved away, in the journal's order, then one per
/// script that no import matches, in import order, then one per input file
/// the backup record leaves out, and last the summary. Each line is
/// `<script>\t<state>\t<UTC time of its last line, or ->\t<group tag, or ->`.
/// The journal and the record are read whole and closed before anything is
/// printed. Returns the exit code: 2 when an operator is needed (an import
/// cut short that no history settles, a file left out, a group held back),
/// 1 when the journal, the record or the directory cannot be read, else 0.
/// `lock_path` is the output directory's lock file, which runs hold.
int ShowJournalStatus(Run& run, const std::string& lock_path);

}  // namespace tavrin

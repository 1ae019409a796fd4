#pragma once
// Backup stage: moves processed inputs, scripts and output logs into a
// UTC-stamped directory made in the current working directory.

#include <string>
#include <string_view>

#include "import/import_journal.h"
#include "run/run.h"

namespace tavrin {

/// Makes "Processed_<UTC date and time>" (with "_2", "_3"... when a run of
/// the same second has the name) and moves into it every file of the input
/// file list, then every `*.tvr` and `*.olog` of the output directory.
/// Moves nothing when the file list is empty or the directory cannot be made
/// (false in the latter case). A file that cannot be moved is reported and
/// the rest are still moved; that does not make the stage fail. Each script
/// moved is marked `moved` in the import journal of the output directory,
/// which is then rewritten without the scripts that are gone: the same bytes
/// arriving later are a new transaction. A directory not made, a file not
/// moved or a journal not written sets the run's errors_reported.
/// While it moves the input files, the stage keeps a record of them in the
/// output directory (see backup_record.h).
bool MoveProcessedFiles(Run& run);

/// When a run stopped while moving its input files, moves those still in
/// its input directory to its backup directory, reporting each move, and
/// forgets the record. Does nothing, and says nothing, otherwise.
void FinishStoppedBackup(Run& run);

/// Moves every entry of `source_prefix` + `pattern` to `destination_prefix` +
/// its bare name. Both prefixes end in the path separator. Reports each move
/// and each refusal; reports a search that finds nothing.
void EnumerateAndMoveFiles(Run& run, std::string source_prefix, std::string destination_prefix,
                           std::string_view pattern);

}  // namespace tavrin

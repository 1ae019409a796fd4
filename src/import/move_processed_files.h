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
/// file list, then every `*.tvr` and `*.olog` of the output directory. The
/// groups of run.held_back_groups stay: their input files are left in the
/// input directory, and the scripts this run wrote for them are removed. The
/// journal's compaction keeps the held-back imports of the groups found in
/// the input directory (run.files and run.discarded_files).
/// Moves nothing when the file list is empty or the directory cannot be made
/// (false in the latter case). A file that cannot be moved is reported and
/// the rest are still moved; that does not make the stage fail. Each script
/// moved is marked `moved` in the import journal of the output directory,
/// whatever its import matched, which is then rewritten without the scripts
/// that are gone: the same bytes arriving later are a new transaction. A
/// directory not made, a file not moved or a journal not written sets the
/// run's errors_reported. An output directory that holds no script or output
/// log is no error; one that cannot be searched is reported.
/// Every step is listed in the backup record (backup_record.h) before the
/// first is taken, with the open steps of the record before; each is struck
/// out once done, and the record goes after the journal's rewrite. A file
/// that could not be moved keeps its step open, marked failed.
bool MoveProcessedFiles(Run& run);

/// Finishes what the backup record of the output directory leaves open, in
/// the record's order; each step with its own backup directory, made again
/// when gone. An input file is acted on only when its size and SHA-256 are
/// the record's: its original is removed when the copy is already in place,
/// otherwise it is moved (a partial `<name>.tavrin-copy` beside it is made
/// again). A file of a listed name with other bytes came later: its step is
/// struck out with a notice, and grouping reads it. A script found already
/// in its backup directory gets its missing `moved` journal line, with the
/// record's tag. Steps that fail again stay open, marked failed (grouping
/// leaves such input files out). Says that an earlier run stopped when a
/// step was never tried. True when there was a record to finish.
bool FinishStoppedBackup(Run& run);

/// Moves every entry of `source_prefix` + `pattern` to `destination_prefix` +
/// its bare name. Both prefixes end in the path separator. Reports each move
/// and each refusal; reports a directory that cannot be searched.
void EnumerateAndMoveFiles(Run& run, std::string source_prefix, std::string destination_prefix,
                           std::string_view pattern);

}  // namespace tavrin

#pragma once
// Grouping: finds the input SQL files, orders them by name and numbers the
// groups (transactions) they form. A group starts at a file whose first
// "COLUMN identity_" line declares identity_1.

#include "run/run.h"

namespace tavrin {

enum class Grouping {
  kGrouped,  // run.files holds the input
  kNothing,  // nothing to read, and nothing wrong: the run ends here
  kFailed,   // reported; the run fails
};

/// Fills run.files from the input directory. With -D the last group is
/// dropped from the list, into run.discarded_files. An input file that the backup record lists as
/// processed by an earlier run but not moved (same size and SHA-256) is left
/// out with a warning, and sets errors_reported. When those are all there is,
/// or when no input file is left after `backup_finished` (an earlier run's
/// backup finished by this one), the result is kNothing. kFailed (after
/// reporting why) when there is no input file or one cannot be read.
Grouping GroupFileList(Run& run, bool backup_finished = false);

}  // namespace tavrin

#pragma once
// Grouping: finds the input SQL files, orders them by name and numbers the
// groups (transactions) they form. A group starts at a file whose first
// "COLUMN identity_" line declares identity_1.

#include "run/run.h"

namespace tavrin {

/// Fills run.files from the input directory. With -D the last group is
/// dropped from the list. Returns false (after reporting why) when there is
/// no input file or one cannot be read.
bool GroupFileList(Run& run);

}  // namespace tavrin

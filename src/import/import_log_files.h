#pragma once
// Import stage: runs sqlplus over every script of the output directory, one
// script at a time, each run's standard output captured in its own output log.

#include "driver/run.h"

namespace tavrin {

/// Runs `sqlplus user/password@host @<script>` for every `*.tvr` directly in
/// the output directory, in the directory search's order, waiting for each
/// child before the next starts. True when every script was run (whatever the
/// scripts did inside SQL*Plus) or when a parse run left nothing to import;
/// false when credentials are missing, no script is found, an output log
/// cannot be created or sqlplus cannot be started.
bool ImportLogFiles(Run& run);

}  // namespace tavrin

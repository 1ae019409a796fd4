#pragma once
// Import stage: runs sqlplus over every script of the output directory, one
// script at a time, each run's standard output captured in its own output log.

#include "run/run.h"

namespace tavrin {

/// Runs `sqlplus user/password@host @<script>` for each script, waiting for
/// each child before the next starts: after a parse in the same run exactly
/// the scripts it wrote, in group order (any other `*.tvr` is named and left
/// alone); otherwise every `*.tvr` directly in the output directory,
/// Output<N>.tvr by ascending N and other names after them. A script that
/// does not end with the line EXIT is passed over. So is, unless -F is
/// given, a script whose bytes the import journal in the output directory
/// shows as imported (a notice) or as left half-imported by a run that
/// stopped (a warning, counted as an error). Each output log is read back for
/// the errors SQL*Plus printed; a script that shows errors, ended with a
/// failure status, or was passed over for a reason other than an earlier
/// import sets `run.errors_reported`. True when every script was taken up
/// (whatever happened inside SQL*Plus) or when a parse run left nothing to
/// import; false when credentials are missing, no script is found, the
/// journal cannot be written, an output log cannot be created or sqlplus
/// cannot be started.
bool ImportLogFiles(Run& run);

}  // namespace tavrin

#pragma once
// One run at a time per output directory: two runs over the same scripts
// would import them twice. The lock is the file "tavrin.lock" in the output
// directory; it stays there, empty, between runs, and the system lets go of
// it when the process ends however it ends, so a killed run blocks nobody.
// It is never stale, and must never be deleted: a run whose lock file goes
// away excludes nobody, so it stops (Run::LockIntact).

#include "run/run.h"

namespace tavrin {

/// The lock file's bare name. No script, output log or backup pattern
/// matches it.
inline constexpr const char* kOutputLockName = "tavrin.lock";

/// How long a run waits for another run's lock, and how often it tries.
inline constexpr int kLockWaitMilliseconds = 2000;
inline constexpr int kLockRetryMilliseconds = 100;

/// Takes the lock on the run's output directory into run.lock, trying again
/// every kLockRetryMilliseconds for kLockWaitMilliseconds while another run
/// holds it. Returns false, after reporting it on standard error and in the
/// log, when another run still holds it, when the system cannot lock the file
/// (a mount without locks: no run goes on unlocked), or when the file was
/// deleted as it was locked. A directory that cannot hold the lock file
/// (missing, read-only) leaves run.lock empty and returns true: the stages
/// then report the directory as they always have.
bool LockOutputDirectory(Run& run);

}  // namespace tavrin

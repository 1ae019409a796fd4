#pragma once
// One run at a time per output directory: two runs over the same scripts
// would import them twice. The lock is the file "tavrin.lock" in the output
// directory; it stays there, empty, between runs, and the system lets go of
// it when the process ends however it ends, so a killed run blocks nobody.

#include <memory>

#include "platform/env.h"
#include "run/run.h"

namespace tavrin {

/// The lock file's bare name. No script, output log or backup pattern
/// matches it.
inline constexpr const char* kOutputLockName = "tavrin.lock";

/// Takes the lock on the run's output directory into `*lock`. Returns false,
/// after reporting it on standard error and in the log, only when another
/// run holds it. A directory that cannot hold the lock file (missing,
/// read-only) leaves `*lock` empty and returns true: the stages then report
/// the directory as they always have.
bool LockOutputDirectory(Run& run, std::unique_ptr<HeldLock>* lock);

}  // namespace tavrin

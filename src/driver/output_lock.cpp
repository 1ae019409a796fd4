#include "driver/output_lock.h"

#include "platform/path.h"

namespace tavrin {

bool LockOutputDirectory(Run& run) {
  run.lock.reset();
  if (!run.settings.output_directory) return true;
  const std::string& directory = *run.settings.output_directory;
  const std::string path = JoinPath(directory, kOutputLockName);
  LockFailure failure = LockFailure::kNone;
  // A run that is just ending, or a look at the lock, holds it only briefly.
  for (int waited = 0;; waited += kLockRetryMilliseconds) {
    run.lock = run.env.LockExclusive(path, &failure);
    if (run.lock || failure != LockFailure::kBusy || waited >= kLockWaitMilliseconds) break;
    run.env.SleepMilliseconds(kLockRetryMilliseconds);
  }
  if (run.lock) {
    run.lock_path = path;
    return run.LockIntact();
  }
  Diagnostics& diag = run.diag;
  switch (failure) {
    case LockFailure::kBusy:
      diag.err() << "\n[Tavrin] Error: Another Tavrin run is using the output directory "
                 << directory << ". Process aborted." << std::endl;
      diag.log("\n[Tavrin] Error: Another Tavrin run is using the output directory %s. "
               "Process aborted.\n",
               directory.c_str());
      return false;
    case LockFailure::kCannotOpen:
      return true;
    case LockFailure::kNone:
    case LockFailure::kCannotLock:
      break;
  }
  const int error = run.env.LastError();
  diag.Say(diag.err(),
           "\n\n[Tavrin] Error: Unable to lock the output directory %s. Process aborted.\n",
           directory);
  diag.Reason(diag.err(), run.env, error);
  return false;
}

}  // namespace tavrin

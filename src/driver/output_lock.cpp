#include "driver/output_lock.h"

#include "platform/path.h"

namespace tavrin {

bool LockOutputDirectory(Run& run, std::unique_ptr<HeldLock>* lock) {
  lock->reset();
  if (!run.settings.output_directory) return true;
  const std::string& directory = *run.settings.output_directory;
  bool busy = false;
  *lock = run.env.LockExclusive(JoinPath(directory, kOutputLockName), &busy);
  if (*lock || !busy) return true;
  run.diag.err() << "\n[Tavrin] Error: Another Tavrin run is using the output directory "
                 << directory << ". Process aborted." << std::endl;
  run.diag.log("\n[Tavrin] Error: Another Tavrin run is using the output directory %s. "
               "Process aborted.\n",
               directory.c_str());
  return false;
}

}  // namespace tavrin

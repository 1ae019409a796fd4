// The child of the lock tests. It tries the exclusive lock on the file its
// argument names and writes "busy" or "locked" to standard output. Holding
// the lock, it dies at once, killed by SIGKILL where the system has it, so
// that nothing of its own releases the lock: only the system can.

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/env.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  tavrin::LockFailure failure = tavrin::LockFailure::kNone;
  auto lock = tavrin::Env::Default()->LockExclusive(argv[1], &failure);
  std::fputs(lock ? "locked" : failure == tavrin::LockFailure::kBusy ? "busy" : "failed", stdout);
  std::fflush(stdout);
  if (!lock) return 1;
#ifdef SIGKILL
  std::raise(SIGKILL);
#endif
  std::_Exit(9);
}

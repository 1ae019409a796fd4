#pragma once
// Starting a child process on Windows and waiting for its end.

#include "platform/env.h"

namespace tavrin {

/// The error number RunChildWin32 gives when the child cannot be put in a
/// job because we already run in one and the system cannot nest jobs (an
/// application's own number: bit 29 set).
constexpr int kErrorCannotNestJobs = 0x20000000 | 1;

/// Runs `command` to its end and stores how it ended. Returns false, with the
/// system's error number in `*error`, when the child could not be started
/// (ERROR_FILE_NOT_FOUND when a bare program name is found nowhere). The
/// child runs in a job that ends it, and whatever it starts, when we end.
/// `env` gives the search path.
bool RunChildWin32(const ChildCommand& command, Env& env, ChildExit* exit, int* error);

}  // namespace tavrin

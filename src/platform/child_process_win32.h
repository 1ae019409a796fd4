#pragma once
// Starting a child process on Windows and waiting for its end.

#include "platform/env.h"

namespace tavrin {

/// Runs `command` to its end and stores how it ended. Returns false, with the
/// system's error number in `*error`, when the child could not be started
/// (ERROR_FILE_NOT_FOUND when a bare program name is found nowhere). `env`
/// gives the search path.
bool RunChildWin32(const ChildCommand& command, Env& env, ChildExit* exit, int* error);

}  // namespace tavrin

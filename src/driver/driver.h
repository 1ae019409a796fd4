#pragma once
// The program's entry: banner, options, checks, the stages in their fixed
// order, the elapsed time and the exit code.

#include <ostream>

#include "platform/env.h"

namespace tavrin {

/// Runs Tavrin with the given arguments and returns the process exit code:
/// 0 for a completed run (or -h), 1 for any failure, 2 with -e for a
/// completed run in which a script or the backup reported errors.
int RunTavrin(int argc, const char* const* argv, Env& env, std::ostream& out,
              std::ostream& err);

/// The source-file path the log's abort lines name, relative to the source
/// tree ("src/driver/driver.cpp").
const char* DriverSourcePath();

}  // namespace tavrin

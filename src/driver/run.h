#pragma once
// Everything one run shares between its stages: the settings, the input file
// list, the messages and the operating system. The driver owns one; a test
// builds a fresh one.

#include "diag/diagnostics.h"
#include "driver/run_settings.h"
#include "grouping/input_file_list.h"
#include "platform/env.h"

namespace tavrin {

struct Run {
  Run(Env& system, std::ostream& out, std::ostream& err) : env(system), diag(out, err) {}

  Env& env;
  Diagnostics diag;
  RunSettings settings;
  InputFileList files;
};

}  // namespace tavrin

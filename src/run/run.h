#pragma once
// Everything one run shares between its stages: the settings, the input file
// list, the messages and the operating system. The driver owns one; a test
// builds a fresh one.

#include <cstdint>
#include <string>
#include <vector>

#include "diag/diagnostics.h"
#include "platform/env.h"
#include "run/input_file_list.h"
#include "run/run_settings.h"

namespace tavrin {

/// A script the parse stage wrote, and the group whose script it is.
struct WrittenScript {
  std::string path;
  std::int32_t group = 0;
};

struct Run {
  Run(Env& system, std::ostream& out, std::ostream& err) : env(system), diag(out, err) {}

  Env& env;
  Diagnostics diag;
  RunSettings settings;
  InputFileList files;
  /// The scripts this run's parse stage wrote, in group order (full paths).
  std::vector<WrittenScript> scripts_written;
  /// A script reported errors or the backup failed; with -e the run ends
  /// with exit code 2.
  bool errors_reported = false;
};

}  // namespace tavrin

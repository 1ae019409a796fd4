#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrin {

/// One input SQL log file: its bare name and the group (transaction) it
/// belongs to.
struct InputFile {
  std::string name;
  std::int32_t group = 0;
};

/// The input files of a run in ascending byte order of name. Filled once by
/// grouping; the later stages only read it.
using InputFileList = std::vector<InputFile>;

}  // namespace tavrin

#pragma once
// What tells the scripts of two groups apart when their bytes are the same:
// the names of the groups' input files.

#include <cstdint>
#include <string>
#include <unordered_map>

#include "run/input_file_list.h"

namespace tavrin {

struct GroupTag {
  /// The first 16 hex digits of the SHA-256 of the group's file names, in
  /// order, each followed by "\n".
  std::string tag;
  /// The group's first input file, which messages name.
  std::string first_file;
  /// The first 16 hex digits of the SHA-256 of first_file.
  std::string first;
};

/// The tag of every group of `files`.
std::unordered_map<std::int32_t, GroupTag> GroupTags(const InputFileList& files);

}  // namespace tavrin

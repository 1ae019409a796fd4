#pragma once
// Creating a file under a name that no other file has: logs and output logs
// of two runs in the same second must never replace each other.

#include <memory>
#include <string>

#include "platform/env.h"

namespace tavrin {

/// Creates `stem` + `extension`, or when that name is taken `stem` + "_2" +
/// `extension`, "_3", and so on. Stores the name it created in `*path`.
/// Returns null, with the Env's LastError set, on any failure other than a
/// taken name (`*path` then holds the name that failed).
std::unique_ptr<OutputFile> CreateUniqueOutput(Env& env, const std::string& stem,
                                               const std::string& extension, std::string* path);

}  // namespace tavrin

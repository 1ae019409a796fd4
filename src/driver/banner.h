#pragma once

#include <string>

#include "platform/env.h"

namespace tavrin {

/// The start banner ("Tavrin \nversion 1.0 ") built from a version block.
/// Empty when the block has no file version.
std::string FormatBanner(const VersionInfo& info);

/// The banner of the running program, from its own version block.
std::string BuildBanner(Env& env);

}  // namespace tavrin

#pragma once

#include <string_view>

namespace tavrin {

/// Matches `name` against a pattern of `*` (any run) and `?` (any one
/// character), ignoring ASCII case, the way Windows matches long file names.
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace tavrin

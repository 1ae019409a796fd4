#pragma once

#include <ostream>
#include <string_view>

namespace tavrin {

/// The one-line usage shown after a bad option or a bad combination.
void WriteShortUsage(std::ostream& err, std::string_view program);

/// The usage with one line per documented option, shown for -h.
void WriteFullUsage(std::ostream& err, std::string_view program);

}  // namespace tavrin

#pragma once
// Cutting decimal numbers out of lines: identity numbers are read this way
// by grouping and by the parse stage alike.

#include <cstddef>
#include <string_view>

namespace tavrin {

/// Index of the first character at or after `position` that is not a decimal
/// digit (text.size() when the digits run to the end).
inline std::size_t SkipDigits(std::string_view text, std::size_t position) {
  while (position < text.size() && text[position] >= '0' && text[position] <= '9') ++position;
  return position;
}

}  // namespace tavrin

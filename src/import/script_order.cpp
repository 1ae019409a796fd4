#include "import/script_order.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace tavrin {
namespace {

// The digits N of "Output<N>.tvr" without leading zeros, or nothing for any
// other name. Kept as text: a group number never overflows a comparison.
std::optional<std::string_view> GroupDigits(std::string_view name) {
  constexpr std::string_view kPrefix = "Output", kSuffix = ".tvr";
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return std::nullopt;
  std::string_view digits =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  if (digits.empty() ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  return digits;
}

}  // namespace

void SortScriptNames(std::vector<std::string>* names) {
  std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
    auto na = GroupDigits(a), nb = GroupDigits(b);
    if (na && nb) {
      if (na->size() != nb->size()) return na->size() < nb->size();
      if (*na != *nb) return *na < *nb;
      return a < b;  // Output01.tvr and Output1.tvr: a fixed order all the same
    }
    if (na || nb) return na.has_value();
    return a < b;
  });
}

}  // namespace tavrin

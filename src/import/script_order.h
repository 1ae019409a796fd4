#pragma once
// The order in which the scripts of an output directory are imported.

#include <string>
#include <vector>

namespace tavrin {

/// Sorts bare script names into import order: "Output<N>.tvr" by ascending
/// N (so Output10.tvr follows Output2.tvr and transactions replay in group
/// order), then every other name in byte order.
void SortScriptNames(std::vector<std::string>* names);

}  // namespace tavrin

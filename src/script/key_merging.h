#pragma once
// Key merging: statements that tie two identities together (an action row
// naming two identities, a transaction or authentication row naming another
// identity) bring both identities' statements into one block.

#include <string>

#include "diag/diagnostics.h"
#include "script/group_state.h"

namespace tavrin {

/// Walks the store and merges the keys its statements tie together; each
/// entry causes at most one merge per pass.
void MergePass(GroupState& state, Diagnostics& diag);

/// Appends the statements of `merged` to `target` (or to the key `target`
/// was merged into before) and removes `merged`. Merging a key into itself
/// changes nothing.
void MergeKeys(GroupState& state, Diagnostics& diag, const std::string& target,
               const std::string& merged);

}  // namespace tavrin

#pragma once
// Key merging: statements that tie identities together (an action row naming
// two identities, a transaction or authentication row naming another
// identity) bring those identities' statements into one block, so that every
// block declares and sets each identity its statements use.

#include <string_view>

#include "diag/diagnostics.h"
#include "script/group_state.h"

namespace tavrin {

/// Walks the store and merges the keys its statements tie together; each
/// entry causes at most one merge per pass.
void MergePass(GroupState& state, Diagnostics& diag);

/// Appends the statements of `merged` to `target` and removes `merged`. Both
/// keys are first followed through earlier merges to the keys that hold their
/// statements now. Merging a key into itself changes nothing.
void MergeKeys(GroupState& state, Diagnostics& diag, std::string_view target,
               std::string_view merged);

/// Joins blocks until no statement names an identity that another block
/// holds: each entry, in walking order, takes in every block that one of its
/// statements (those it gains on the way included) names. Reports nothing.
void JoinToClosure(GroupState& state);

}  // namespace tavrin

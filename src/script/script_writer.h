#pragma once
// The script writer: turns the store of one group into its SQL*Plus script
// of PL/SQL blocks, one block per key, and empties the store. The statements
// run in the order the log holds them: within a block by read position, and
// the blocks by their first statement.

#include "diag/diagnostics.h"
#include "script/group_state.h"
#include "script/script_sink.h"

namespace tavrin {

/// Moves each unattached authentication row to the identity it names (or to
/// "others_-2", made for it when missing, when it names none) and removes
/// "Authentications_-1". A row naming an identity that has no entry is
/// reported and dropped.
void DistributeAuthentications(GroupState& state, Diagnostics& diag);

/// Writes the whole script for the group in `state` and empties `state`.
void WriteScript(GroupState& state, Diagnostics& diag, ScriptSink& out);

}  // namespace tavrin

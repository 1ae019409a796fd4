#pragma once
// The script writer: turns the store of one group into its SQL*Plus script
// of PL/SQL blocks, one block per key, and empties the store.

#include "diag/diagnostics.h"
#include "script/group_state.h"
#include "script/script_sink.h"

namespace tavrin {

/// Moves each unattached authentication row to the identity it names (or to
/// "others_-2" when it names none) and removes "Authentications_-1".
void DistributeAuthentications(GroupState& state);

/// Writes the whole script for the group in `state` and empties `state`.
void WriteScript(GroupState& state, Diagnostics& diag, ScriptSink& out);

}  // namespace tavrin

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

/// How a script holds its group's statements.
enum class ScriptLayout {
  kBlocks,     // one block per entry, the blocks in the order of their first statements
  kReadOrder,  // one block of every statement in read order (-R)
};

/// Writes the whole script for the group in `state` and empties `state`.
void WriteScript(GroupState& state, Diagnostics& diag, ScriptSink& out,
                 ScriptLayout layout = ScriptLayout::kBlocks);

/// Writes one statement's line of a block: a tab, "--" before a COLUMN
/// line of an identity, the statement.
void WriteStatementLine(const Statement& statement, ScriptSink& out);

}  // namespace tavrin

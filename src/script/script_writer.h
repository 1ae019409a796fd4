#pragma once
// The script writer: turns the store of one group into its SQL*Plus script
// of PL/SQL blocks, one block per key, and empties the store. The statements
// run in the order the log holds them: within a block by read position, and
// the blocks by their first statement.

#include <array>
#include <string_view>

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

/// The lines a history script holds right after SET VERIFY OFF: its first
/// statement records the import under the client's arguments &1 (the import
/// id) and &2 (the script's name), and a failure there ends the script with
/// nothing done.
inline constexpr std::array<std::string_view, 5> kHistoryLines = {
    "SET AUTOCOMMIT OFF",
    "SET DEFINE ON",
    "WHENEVER SQLERROR EXIT FAILURE ROLLBACK",
    "INSERT INTO TAVRIN_IMPORTS(IMPORT_ID, SCRIPT_NAME) VALUES ('&1', '&2');",
    "WHENEVER SQLERROR CONTINUE NONE",
};

/// Written before the history lines when a statement of the script can
/// commit part of it by itself.
inline constexpr std::string_view kNotAtomicLine = "-- not atomic";

/// Whether a statement can commit by itself: its first word (after blanks
/// and tabs, in any case) is COMMIT or ROLLBACK, or it holds EXECUTE
/// IMMEDIATE.
bool IsNonAtomicStatement(std::string_view text);

/// Writes the whole script for the group in `state` and empties `state`.
/// With `history`, the script records its own import (kHistoryLines).
void WriteScript(GroupState& state, Diagnostics& diag, ScriptSink& out,
                 ScriptLayout layout = ScriptLayout::kBlocks, bool history = false);

/// Writes one statement's line of a block: a tab, "--" before a COLUMN
/// line of an identity, the statement.
void WriteStatementLine(const Statement& statement, ScriptSink& out);

}  // namespace tavrin

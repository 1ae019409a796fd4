#pragma once
// The script writer: turns the store of one group into its SQL*Plus script
// of PL/SQL blocks, one block per key, and empties the store. The statements
// run in the order the log holds them: within a block by read position, and
// the blocks by their first statement.

#include <array>
#include <cstddef>
#include <string>
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

/// The lines an atomic script (-A) holds right after SET VERIFY OFF: nothing
/// commits before EXIT, and the first refused statement or failed command
/// ends the client with everything rolled back.
inline constexpr std::array<std::string_view, 4> kAtomicLines = {
    "SET AUTOCOMMIT OFF",
    "SET EXITCOMMIT ON",
    "WHENEVER OSERROR EXIT FAILURE ROLLBACK",
    "WHENEVER SQLERROR EXIT FAILURE ROLLBACK",
};

/// The same with the history (-A -H): the history row is the first
/// statement, and rolls back with everything else.
inline constexpr std::array<std::string_view, 6> kAtomicHistoryLines = {
    "SET AUTOCOMMIT OFF",
    "SET EXITCOMMIT ON",
    "SET DEFINE ON",
    "WHENEVER OSERROR EXIT FAILURE ROLLBACK",
    "WHENEVER SQLERROR EXIT FAILURE ROLLBACK",
    "INSERT INTO TAVRIN_IMPORTS(IMPORT_ID, SCRIPT_NAME) VALUES ('&1', '&2');",
};

/// Written before the history or atomic lines when a line of the script's body can
/// commit part of the script by itself (LineCanCommit).
inline constexpr std::string_view kNotAtomicLine = "-- not atomic";

/// Whether one line of a script can commit part of the script by itself.
/// It can when it holds the word COMMIT or ROLLBACK, in any case, outside
/// single-quoted texts (a word is a run of letters, digits, _, $ and #), or,
/// anywhere and in any case, EXECUTE and IMMEDIATE separated by blanks and
/// tabs only, DBMS_SQL, DBMS_TRANSACTION or EXEC_DDL_STATEMENT.
///
/// Texts, left to right: q' or Q' after no word character opens a q-text,
/// which ends at its closing delimiter followed by ' ([] {} <> () pair up,
/// any other delimiter closes itself) and whose words count. Otherwise a
/// text runs from a ' to the next ' that is not doubled; a ' that nothing
/// closes opens none. Comments are not told apart: a mark too many costs
/// the operator a look, a mark missing can lose rows.
bool LineCanCommit(std::string_view line);

/// Takes a script's body as a ScriptSink takes it, keeps none of it, and
/// tells whether one of its lines can commit part of the script: the header,
/// written first, is decided on the lines the body writes. A line taken back
/// does not count.
class CommitFinder {
 public:
  void Line(std::string_view a, std::string_view b = {}, std::string_view c = {});
  void DropLastLine(std::size_t line_size) {
    if (line_size == last_size_) last_ = false;
  }
  bool found() const { return found_ || last_; }

 private:
  bool found_ = false;  // in a line that stays
  bool last_ = false;   // in the last line, which may still be taken back
  std::size_t last_size_ = 0;
  std::string line_;
};

/// Writes one statement's line of a block: a tab, "--" before a COLUMN
/// line of an identity, the statement.
template <typename Out>
void WriteStatementLine(const Statement& statement, Out& out) {
  out.Line("\t", statement.Has(Statement::kColumnIdentity) ? "--" : "", statement.text);
}

/// Writes the whole script for the group in `state` and empties `state`.
/// With `history`, the script records its own import (kHistoryLines); with
/// `atomic`, it lands whole or not at all (kAtomicLines, or with `history`
/// kAtomicHistoryLines).
void WriteScript(GroupState& state, Diagnostics& diag, ScriptSink& out,
                 ScriptLayout layout = ScriptLayout::kBlocks, bool history = false,
                 bool atomic = false);

}  // namespace tavrin

#include "script/script_writer.h"

#include <algorithm>
#include <vector>

#include "script/block_lines.h"
#include "script/currval_readers.h"
#include "script/key_merging.h"
#include "script/read_order_script.h"
#include "script/statement_filing.h"
#include "script/statement_text.h"

namespace tavrin {
namespace {

// One BEGIN ... END; block for the statements of one entry.
void WriteBlock(const StatementList& statements, ScriptSink& out) {
  out.Line("BEGIN");
  ForEachWrittenStatement(
      statements, [&](const Statement& statement) { WriteStatementLine(statement, out); },
      // The line taken back is a tab, the statement and CR LF.
      [&](const Statement& statement) { out.DropLastLine(statement.text.size() + 3); });
  out.Line("END;");
  out.Line("/");
}

void WriteEntry(const StoreEntry& entry, ScriptSink& out) {
  const std::vector<std::string_view> names = DeclaredNames(entry.statements);
  if (!names.empty()) {
    out.Line("DECLARE");
    for (std::string_view name : names) out.Line("\t", name, " NUMBER;");
  }
  if (!entry.statements.empty()) WriteBlock(entry.statements, out);
}

// More runs than this are sorted instead: merging looks at every run's
// next block for each block it writes.
constexpr std::size_t kMaxMergedRuns = 16;

// The next block of a run after `cursor`, or the end when the run ends at
// `run_end` (the next run's first block) or at the end of the store.
void NextInRun(StatementStore& store, StoreCursor& cursor, const StoreCursor& run_end) {
  do {
    store.Advance(cursor);
  } while (!cursor.at_end() && cursor != run_end && cursor->statements.empty());
  if (cursor == run_end) cursor = StoreCursor{};
}

// Writes the blocks of ascending runs of the walk, each run's blocks in read
// order, by their first statements; a tie goes to the run walked first.
void MergeRuns(StatementStore& store, const std::vector<StoreCursor>& runs, ScriptSink& out) {
  std::vector<StoreCursor> next = runs;
  for (;;) {
    std::size_t pick = next.size();
    for (std::size_t i = 0; i < next.size(); ++i) {
      if (next[i].at_end()) continue;
      if (pick == next.size() || next[i]->statements.front().position <
                                     next[pick]->statements.front().position)
        pick = i;
    }
    if (pick == next.size()) return;
    WriteEntry(*next[pick], out);
    NextInRun(store, next[pick], pick + 1 < runs.size() ? runs[pick + 1] : StoreCursor{});
  }
}

bool IsWordByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithWord(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (Upper(text[i]) != word[i]) return false;
  return text.size() == word.size() || !IsWordByte(text[word.size()]);
}

bool HoldsExecuteImmediate(std::string_view text) {
  static constexpr std::string_view kWords = "EXECUTE IMMEDIATE";
  for (std::size_t i = 0; i + kWords.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < kWords.size() && Upper(text[i + k]) == kWords[k]) ++k;
    if (k == kWords.size()) return true;
  }
  return false;
}

// Whether any statement the script writes can commit part of it by itself.
bool WritesNonAtomicStatement(StatementStore& store) {
  bool found = false;
  for (StoreCursor entry = store.Begin(); !entry.at_end() && !found; store.Advance(entry))
    ForEachWrittenStatement(
        entry->statements,
        [&](const Statement& statement) {
          if (!found && !statement.Has(Statement::kColumnIdentity))
            found = IsNonAtomicStatement(statement.text);
        },
        [](const Statement&) {});
  return found;
}

// The lines before the first block. With the history, the script's first
// statement records its import, and a failure there ends it untouched.
void WriteHeader(StatementStore& store, bool history, ScriptSink& out) {
  out.Line("SET VERIFY OFF");
  if (!history) return;
  if (WritesNonAtomicStatement(store)) out.Line(kNotAtomicLine);
  for (std::string_view line : kHistoryLines) out.Line(line);
}

}  // namespace

bool IsNonAtomicStatement(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  const std::string_view rest = text.substr(start);
  return StartsWithWord(rest, "COMMIT") || StartsWithWord(rest, "ROLLBACK") ||
         HoldsExecuteImmediate(text);
}

void WriteStatementLine(const Statement& statement, ScriptSink& out) {
  out.Line("\t", statement.Has(Statement::kColumnIdentity) ? "--" : "", statement.text);
}

void DistributeAuthentications(GroupState& state, Diagnostics& diag) {
  StatementStore& store = state.store;
  StoreCursor authentications = store.Find(kAuthenticationsKey);
  if (authentications.at_end()) return;
  StatementList& rows = authentications->statements;
  while (!rows.empty()) {
    const std::string_view name = rows.front().FirstIdentity();
    if (name.empty()) {
      // A login row of no identity runs with the plain rows, which it
      // starts when there are none.
      StoreCursor others = store.Find(kOthersKey);
      if (others.at_end()) others = store.Insert(StoreEntry{kOthersKey, {}}).first;
      others->statements.splice(others->statements.end(), rows, rows.begin());
      continue;
    }
    StoreCursor owner = store.Find(name);
    if (owner.at_end()) {
      WarnUnknownIdentity(diag, name);
      rows.pop_front();
    } else {
      owner->statements.splice(owner->statements.end(), rows, rows.begin());
    }
  }
  store.Erase(kAuthenticationsKey);
}

void WriteScript(GroupState& state, Diagnostics& diag, ScriptSink& out, ScriptLayout layout,
                 bool history) {
  diag.out() << "\n\n\tDumping memory contents to a file";
  diag.log("\n[ParseFileList]Dumping memory contents to output file\n\n");
  DistributeAuthentications(state, diag);
  JoinCurrvalReaders(state);
  MergePass(state, diag);
  JoinToClosure(state);
  if (layout == ScriptLayout::kReadOrder) {
    WriteHeader(state.store, history, out);
    WriteReadOrderBlock(state.store, out);
    out.Text("EXIT");
    state.Clear();
    return;
  }

  // The log's order: each block's statements as they were read, and the
  // blocks by the first of them, blocks that tie in walking order. Blocks
  // never interleave. The walk is in that order already, or nearly: key
  // numbers that wrap round start a second run. So the walk is cut into its
  // ascending runs, and those are merged, which needs no list of a million
  // blocks at the group's peak of memory; only a walk of many runs is sorted.
  StatementStore& store = state.store;
  auto by_position = [](const Statement& a, const Statement& b) { return a.position < b.position; };
  std::vector<StoreCursor> runs;  // the first block of each run
  std::uint64_t last_first = 0;
  for (StoreCursor entry = store.Begin(); !entry.at_end(); store.Advance(entry)) {
    if (entry->statements.empty()) continue;
    // Most blocks are in read order already; sorting costs more than looking.
    if (!std::is_sorted(entry->statements.begin(), entry->statements.end(), by_position))
      entry->statements.sort(by_position);
    const std::uint64_t first = entry->statements.front().position;
    if (runs.empty() || first < last_first) runs.push_back(entry);
    last_first = first;
  }

  WriteHeader(store, history, out);
  if (runs.size() <= kMaxMergedRuns) {
    MergeRuns(store, runs, out);
  } else {
    std::vector<const StoreEntry*> blocks;
    blocks.reserve(store.size());
    for (StoreCursor entry = store.Begin(); !entry.at_end(); store.Advance(entry))
      if (!entry->statements.empty()) blocks.push_back(&*entry);
    std::stable_sort(blocks.begin(), blocks.end(), [](const StoreEntry* a, const StoreEntry* b) {
      return a->statements.front().position < b->statements.front().position;
    });
    for (const StoreEntry* block : blocks) WriteEntry(*block, out);
  }
  out.Text("EXIT");

  state.Clear();
}

}  // namespace tavrin

#include "script/script_writer.h"

#include <algorithm>
#include <vector>

#include "script/key_merging.h"
#include "script/statement_filing.h"
#include "script/statement_text.h"

namespace tavrin {
namespace {

constexpr std::string_view kDeclareLine = "\tDECLARE\r\n";
constexpr std::string_view kBeginLine = "\tBEGIN\r\n";

// One BEGIN ... END; block for the statements of one entry. A statement that
// is exactly DECLARE followed by one with BEGIN drops the DECLARE line; one
// that is exactly BEGIN followed by one with END drops the BEGIN line, that
// statement and the two after it.
void WriteBlock(const StatementList& statements, ScriptSink& out) {
  out.Line("BEGIN");
  std::string_view previous;
  bool previous_line_is_last = false;  // the previous statement's line was written last
  for (auto it = statements.begin(); it != statements.end();) {
    std::string_view current = it->text;
    if (previous_line_is_last && previous == "DECLARE" && marker::kBegin.IsIn(current)) {
      out.DropLastLine(kDeclareLine.size());
    } else if (previous_line_is_last && previous == "BEGIN" && marker::kEnd.IsIn(current)) {
      out.DropLastLine(kBeginLine.size());
      previous_line_is_last = false;
      for (int skip = 0; skip < 3 && it != statements.end(); ++skip) ++it;
      continue;
    }
    out.Line("\t", it->Has(Statement::kColumnIdentity) ? "--" : "", current);
    previous = current;
    previous_line_is_last = true;
    ++it;
  }
  out.Line("END;");
  out.Line("/");
}

void WriteEntry(const StoreEntry& entry, ScriptSink& out) {
  // Declarations in byte order of their names, each once.
  std::vector<std::string_view> names;
  for (const Statement& statement : entry.statements) {
    std::string_view name = statement.FirstIdentity();
    // Runs of one name are common (an identity's own rows): keep one of each run.
    if (!name.empty() && (names.empty() || names.back() != name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  if (!names.empty()) {
    out.Line("DECLARE");
    for (std::string_view name : names) out.Line("\t", name, " NUMBER;");
  }
  if (!entry.statements.empty()) WriteBlock(entry.statements, out);
}

}  // namespace

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

void WriteScript(GroupState& state, Diagnostics& diag, ScriptSink& out) {
  diag.out() << "\n\n\tDumping memory contents to a file";
  diag.log("\n[ParseFileList]Dumping memory contents to output file\n\n");
  DistributeAuthentications(state, diag);
  MergePass(state, diag);
  JoinToClosure(state);

  // The log's order: each block's statements as they were read, and the
  // blocks by the first of them. Blocks never interleave.
  std::vector<StoreEntry*> blocks;
  StatementStore& store = state.store;
  blocks.reserve(store.size());  // a million entries: no copy at the peak
  for (StoreCursor entry = store.Begin(); !entry.at_end(); store.Advance(entry)) {
    if (entry->statements.empty()) continue;
    // Most blocks are in read order already; sorting costs more than looking.
    auto by_position = [](const Statement& a, const Statement& b) { return a.position < b.position; };
    if (!std::is_sorted(entry->statements.begin(), entry->statements.end(), by_position))
      entry->statements.sort(by_position);
    blocks.push_back(&*entry);
  }
  // Blocks that tie keep walking order; a group whose keys were numbered in
  // read order needs no sort at all.
  auto by_first = [](const StoreEntry* a, const StoreEntry* b) {
    return a->statements.front().position < b->statements.front().position;
  };
  if (!std::is_sorted(blocks.begin(), blocks.end(), by_first))
    std::stable_sort(blocks.begin(), blocks.end(), by_first);

  out.Line("SET VERIFY OFF");
  for (const StoreEntry* block : blocks) WriteEntry(*block, out);
  out.Text("EXIT");

  state.Clear();
}

}  // namespace tavrin

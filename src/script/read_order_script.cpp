#include "script/read_order_script.h"

#include <algorithm>
#include <unordered_set>

#include "script/block_lines.h"
#include "script/script_writer.h"

namespace tavrin {

ReadOrderBlock::ReadOrderBlock(StatementStore& store) {
  // The default layout's blocks, in its order: by their first statements.
  auto by_position = [](const Statement& a, const Statement& b) { return a.position < b.position; };
  std::vector<const StoreEntry*> blocks;
  for (StoreCursor entry = store.Begin(); !entry.at_end(); store.Advance(entry)) {
    if (entry->statements.empty()) continue;
    if (!std::is_sorted(entry->statements.begin(), entry->statements.end(), by_position))
      entry->statements.sort(by_position);
    blocks.push_back(&*entry);
  }
  if (blocks.empty()) return;
  written_ = true;
  std::stable_sort(blocks.begin(), blocks.end(), [](const StoreEntry* a, const StoreEntry* b) {
    return a->statements.front().position < b->statements.front().position;
  });

  std::unordered_set<std::string_view> declared;
  for (const StoreEntry* block : blocks) {
    for (std::string_view name : DeclaredNames(block->statements))
      if (declared.insert(name).second) names_.push_back(name);
    ForEachWrittenStatement(
        block->statements, [&](const Statement& statement) { lines_.push_back(&statement); },
        [&](const Statement&) { lines_.pop_back(); });
  }
  std::stable_sort(lines_.begin(), lines_.end(), [](const Statement* a, const Statement* b) {
    return a->position < b->position;
  });
}

template <typename Out>
void ReadOrderBlock::Write(Out& out) const {
  if (!written_) return;
  if (!names_.empty()) {
    out.Line("DECLARE");
    for (std::string_view name : names_) out.Line("\t", name, " NUMBER;");
  }
  out.Line("BEGIN");
  for (const Statement* statement : lines_) WriteStatementLine(*statement, out);
  out.Line("END;");
  out.Line("/");
}

template void ReadOrderBlock::Write(ScriptSink&) const;
template void ReadOrderBlock::Write(CommitFinder&) const;

}  // namespace tavrin

#include "script/read_order_script.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "script/block_lines.h"
#include "script/script_writer.h"

namespace tavrin {

void WriteReadOrderBlock(StatementStore& store, ScriptSink& out) {
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
  std::stable_sort(blocks.begin(), blocks.end(), [](const StoreEntry* a, const StoreEntry* b) {
    return a->statements.front().position < b->statements.front().position;
  });

  std::vector<std::string_view> names;
  std::unordered_set<std::string_view> declared;
  std::vector<const Statement*> lines;
  for (const StoreEntry* block : blocks) {
    for (std::string_view name : DeclaredNames(block->statements))
      if (declared.insert(name).second) names.push_back(name);
    ForEachWrittenStatement(
        block->statements, [&](const Statement& statement) { lines.push_back(&statement); },
        [&](const Statement&) { lines.pop_back(); });
  }
  std::stable_sort(lines.begin(), lines.end(), [](const Statement* a, const Statement* b) {
    return a->position < b->position;
  });

  if (!names.empty()) {
    out.Line("DECLARE");
    for (std::string_view name : names) out.Line("\t", name, " NUMBER;");
  }
  out.Line("BEGIN");
  for (const Statement* statement : lines) WriteStatementLine(*statement, out);
  out.Line("END;");
  out.Line("/");
}

}  // namespace tavrin

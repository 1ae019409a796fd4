#pragma once
// What the writer writes of a block: its declarations, and which of its
// statements it writes. A statement that is exactly DECLARE followed by one
// with BEGIN loses its line again; one that is exactly BEGIN followed by one
// with END loses its line, and that statement and the two after it are not
// written. Both layouts, one block per entry and one block in read order,
// write the same lines by these rules.

#include <algorithm>
#include <string_view>
#include <vector>

#include "script/marker.h"
#include "script/statement_store.h"

namespace tavrin {

/// Walks `statements` as the writer writes them: `write(statement)` for each
/// line written, then `take_back(statement)` when that statement's line is
/// taken back by the next one.
template <typename Write, typename TakeBack>
void ForEachWrittenStatement(const StatementList& statements, Write write, TakeBack take_back) {
  // The statement whose line was written last, while no other line followed it.
  const Statement* last = nullptr;
  for (auto it = statements.begin(); it != statements.end();) {
    const std::string_view current = it->text;
    if (last && last->text == "DECLARE" && marker::kBegin.IsIn(current)) {
      take_back(*last);
    } else if (last && last->text == "BEGIN" && marker::kEnd.IsIn(current)) {
      take_back(*last);
      last = nullptr;
      for (int skip = 0; skip < 3 && it != statements.end(); ++skip) ++it;
      continue;
    }
    write(*it);
    last = &*it;
    ++it;
  }
}

/// The names a block of `statements` declares: the identity name of each
/// statement that has one, each once, in byte order.
inline std::vector<std::string_view> DeclaredNames(const StatementList& statements) {
  std::vector<std::string_view> names;
  for (const Statement& statement : statements) {
    std::string_view name = statement.FirstIdentity();
    // Runs of one name are common (an identity's own rows): keep one of each run.
    if (!name.empty() && (names.empty() || names.back() != name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace tavrin

#pragma once
// Builds group states and captures messages for the script tests.

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "diag/diagnostics.h"
#include "script/group_state.h"

namespace tavrin::test {

struct CapturedDiagnostics {
  std::ostringstream out, err;
  Diagnostics diag{out, err};
};

/// Inserts entries in the order given.
inline void Fill(GroupState& state,
                 const std::vector<std::pair<std::string, StatementList>>& entries) {
  for (const auto& [key, statements] : entries) state.store.Insert(StoreEntry{key, statements});
}

/// Every entry in walking order, as key and statements.
inline std::vector<std::pair<std::string, StatementList>> Contents(GroupState& state) {
  std::vector<std::pair<std::string, StatementList>> entries;
  for (StoreCursor c = state.store.Begin(); !c.at_end(); state.store.Advance(c))
    entries.emplace_back(c->key, c->statements);
  return entries;
}

}  // namespace tavrin::test

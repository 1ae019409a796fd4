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

/// Keys with their statements, in order.
using Entries = std::vector<std::pair<std::string, std::vector<std::string>>>;

/// Inserts entries in the order given, their texts kept in the state.
inline void Fill(GroupState& state, const Entries& entries) {
  for (const auto& [key, statements] : entries) {
    StoreEntry entry{key, {}};
    for (const std::string& s : statements) entry.statements.push_back(state.texts.Store(s));
    state.store.Insert(std::move(entry));
  }
}

/// Every entry in walking order.
inline Entries Contents(GroupState& state) {
  Entries entries;
  for (StoreCursor c = state.store.Begin(); !c.at_end(); state.store.Advance(c))
    entries.emplace_back(c->key, std::vector<std::string>(c->statements.begin(), c->statements.end()));
  return entries;
}

}  // namespace tavrin::test

#include "script/key_merging.h"

#include <optional>

#include "script/statement_text.h"

namespace tavrin {
namespace {

void WarnMissingKey(Diagnostics& diag, const std::string& key, const char* ending) {
  diag.out() << "[MergeKeys] Warning : Could not find key indentity " << key << ending
             << std::endl;
  diag.log("\t[MergeKeys]Warning : Could not find key indentity %s in the map. Key merging aborted.\n",
           key);
}

struct Merge {
  std::string target;
  std::string merged;
};

// The merge one statement of entry `key` asks for, if any.
std::optional<Merge> MergeFor(std::string_view statement, const std::string& key) {
  const std::size_t first = marker::kIdentity.FindIn(statement);
  if (first == std::string_view::npos) return std::nullopt;
  if (marker::kActions.IsIn(statement)) {
    // "identity_" twice: the first and the last occurrence differ.
    if (marker::kIdentity.FindIn(statement, first + 1) != std::string_view::npos) {
      std::string_view a = IdentityNameAt(statement, first);
      std::size_t second = marker::kIdentity.FindIn(statement, first + a.size() + 1);
      if (second != std::string_view::npos)
        return Merge{std::string(a), std::string(IdentityNameAt(statement, second))};
    }
  }
  const std::string_view b = IdentityNameAt(statement, first);
  if (b != key && (marker::kTransactions.IsIn(statement) || marker::kAuthentications.IsIn(statement)))
    return Merge{key, std::string(b)};
  return std::nullopt;
}

}  // namespace

void MergePass(GroupState& state, Diagnostics& diag) {
  StatementStore& store = state.store;
  StoreCursor& cursor = store.cursor();
  cursor = store.Begin();
  while (!cursor.at_end()) {
    std::optional<Merge> merge;
    for (std::string_view statement : cursor->statements) {
      merge = MergeFor(statement, cursor->key);
      if (merge) break;
    }
    store.Advance(cursor);
    if (merge) MergeKeys(state, diag, merge->target, merge->merged);
  }
}

void MergeKeys(GroupState& state, Diagnostics& diag, const std::string& target,
               const std::string& merged) {
  StatementStore& store = state.store;
  StoreCursor from = store.Find(merged);
  if (from.at_end()) {
    WarnMissingKey(diag, merged, "in the map Key Merging aborted");
    return;
  }
  // Follow earlier merges to the key that still holds the target's
  // statements. Every step leads to a key merged later, so the chain ends;
  // the bound only guards against a map that was corrupted.
  std::string resolved = target;
  StoreCursor to = store.Find(resolved);
  for (std::size_t steps = 0; to.at_end(); ++steps) {
    auto record = state.merge_map.find(resolved);
    if (record == state.merge_map.end() || steps > state.merge_map.size()) {
      WarnMissingKey(diag, resolved, "in the map. Key merging aborted");
      return;
    }
    resolved = record->second;
    to = store.Find(resolved);
  }
  if (to == from) return;

  to->statements.splice(to->statements.end(), from->statements);
  store.Erase(merged);
  state.merge_map.try_emplace(merged, resolved);
}

}  // namespace tavrin

#include "script/key_merging.h"

#include <optional>
#include <vector>

#include "script/statement_text.h"

namespace tavrin {
namespace {

void WarnMissingKey(Diagnostics& diag, const std::string& key, const char* ending) {
  diag.out() << "[MergeKeys] Warning : Could not find key indentity " << key << ending
             << std::endl;
  diag.log("\t[MergeKeys]Warning : Could not find key indentity %s in the map. Key merging aborted.\n",
           key);
}

// Follows earlier merges from `key` to the key that holds its statements now:
// while the key is not in the store and was merged away, goes on with the key
// it went into. Returns the entry of the key where that ends (the end
// position when that key is not in the store either); `resolved`, when given,
// gets that key.
//
// Every step leads to a key merged away later, so a chain ends; the bound
// only guards against a map that was corrupted. The records walked are then
// pointed at the end of the chain, so a long chain is walked once.
StoreCursor Resolve(GroupState& state, std::string_view key, std::string* resolved = nullptr) {
  StoreCursor entry = state.store.Find(key);
  if (!entry.at_end() || state.merge_map.empty()) {
    if (resolved) resolved->assign(key);
    return entry;
  }
  std::string end(key);
  std::vector<MergeMap::iterator> walked;
  for (;;) {
    auto record = state.merge_map.find(end);
    if (record == state.merge_map.end() || walked.size() > state.merge_map.size()) break;
    walked.push_back(record);
    end = record->second;
    entry = state.store.Find(end);
    if (!entry.at_end()) break;
  }
  for (auto record : walked) record->second = end;
  if (resolved) *resolved = std::move(end);
  return entry;
}

struct Merge {
  std::string target;
  std::string merged;
};

// The merge one statement of entry `key` asks for, if any.
std::optional<Merge> MergeFor(const Statement& statement, std::string_view key) {
  const std::size_t first = statement.FirstIdentityAt();
  if (first == std::string_view::npos) return std::nullopt;
  const std::string_view text = statement.text;
  // "identity_" twice: the first and the last occurrence differ.
  if (statement.Has(Statement::kActions) && statement.Has(Statement::kMoreIdentities)) {
    std::string_view a = IdentityNameAt(text, first);
    std::size_t second = marker::kIdentity.FindIn(text, first + a.size() + 1);
    if (second != std::string_view::npos)
      return Merge{std::string(a), std::string(IdentityNameAt(text, second))};
  }
  const std::string_view b = IdentityNameAt(text, first);
  if (b != key && (statement.Has(Statement::kTransactions) || statement.Has(Statement::kAuthentications)))
    return Merge{std::string(key), std::string(b)};
  return std::nullopt;
}

// Moves every statement of `from` to the end of `to`, removes `from` and
// records where it went.
void Join(GroupState& state, StoreCursor to, StoreCursor from) {
  const std::string removed(from->key);
  to->statements.splice(to->statements.end(), from->statements);
  state.store.Erase(removed);
  state.merge_map.try_emplace(removed, to->key);
}

// One walk over the store; true when it joined anything.
bool JoinWalk(GroupState& state) {
  bool joined = false;
  StatementStore& store = state.store;
  for (StoreCursor block = store.Begin(); !block.at_end(); store.Advance(block)) {
    // Joining appends to this very list; the walk goes on into what it gains.
    StatementList& statements = block->statements;
    for (auto it = statements.begin(); it != statements.end(); ++it) {
      const std::string_view text = it->text;
      for (std::size_t at = it->FirstIdentityAt(); at != std::string_view::npos;) {
        const std::string_view name = IdentityNameAt(text, at);
        // Most statements name the block's own key, which holds itself.
        const StoreCursor holder = name != block->key ? Resolve(state, name) : StoreCursor{};
        if (!holder.at_end() && holder != block) {
          Join(state, block, holder);
          joined = true;
        }
        if (!it->Has(Statement::kMoreIdentities)) break;
        at = marker::kIdentity.FindIn(text, at + name.size());
      }
    }
  }
  return joined;
}

}  // namespace

void MergePass(GroupState& state, Diagnostics& diag) {
  StatementStore& store = state.store;
  StoreCursor& cursor = store.cursor();
  cursor = store.Begin();
  while (!cursor.at_end()) {
    std::optional<Merge> merge;
    for (const Statement& statement : cursor->statements) {
      merge = MergeFor(statement, cursor->key);
      if (merge) break;
    }
    store.Advance(cursor);
    if (merge) MergeKeys(state, diag, merge->target, merge->merged);
  }
}

void MergeKeys(GroupState& state, Diagnostics& diag, const std::string& target,
               const std::string& merged) {
  std::string moving, staying;
  const StoreCursor from = Resolve(state, merged, &moving);
  if (from.at_end()) {
    WarnMissingKey(diag, moving, "in the map Key Merging aborted");
    return;
  }
  const StoreCursor to = Resolve(state, target, &staying);
  if (to.at_end()) {
    WarnMissingKey(diag, staying, "in the map. Key merging aborted");
    return;
  }
  if (to != from) Join(state, to, from);
}

void JoinToClosure(GroupState& state) {
  while (JoinWalk(state)) {
  }
}

}  // namespace tavrin

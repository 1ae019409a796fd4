#include "script/key_merging.h"

#include <optional>
#include <unordered_set>

#include "script/statement_text.h"

namespace tavrin {
namespace {

void WarnMissingKey(Diagnostics& diag, std::string_view key, const char* ending) {
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
StoreCursor Resolve(GroupState& state, std::string_view key, std::string_view* resolved = nullptr) {
  StoreCursor entry = state.store.Find(key);
  std::string_view end = key;
  if (entry.at_end() && !state.merge_map.empty()) {
    std::size_t steps = 0;
    for (;;) {
      const auto record = state.merge_map.find(end);
      if (record == state.merge_map.end() || steps > state.merge_map.size()) break;
      ++steps;
      end = record->second;
      entry = state.store.Find(end);
      if (!entry.at_end()) break;
    }
    // Along the chain once more: the last record points at its end already.
    std::string_view at = key;
    for (std::size_t i = 1; i < steps; ++i) {
      const auto record = state.merge_map.find(at);
      at = record->second;
      record->second = end;
    }
  }
  if (resolved) *resolved = end;
  return entry;
}

struct Merge {
  std::string_view target;
  std::string_view merged;
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
    if (second != std::string_view::npos) return Merge{a, IdentityNameAt(text, second)};
  }
  const std::string_view b = IdentityNameAt(text, first);
  if (b != key && (statement.Has(Statement::kTransactions) || statement.Has(Statement::kAuthentications)))
    return Merge{key, b};
  return std::nullopt;
}

// Moves every statement of `from` into `to`, at `where` in its list, removes
// `from` and records where it went.
void Join(GroupState& state, StoreCursor to, StatementList::iterator where, StoreCursor from) {
  const std::string_view removed = from->key;  // the store keeps the bytes
  to->statements.splice(where, from->statements);
  state.store.Erase(removed);
  state.merge_map.try_emplace(removed, to->key);
}

}  // namespace

void MergePass(GroupState& state, Diagnostics& diag) {
  StatementStore& store = state.store;
  StoreCursor& cursor = store.cursor();
  cursor = store.Begin();
  while (!cursor.at_end()) {
    std::optional<Merge> merge;
    for (const Statement& statement : cursor->statements) {
      ++state.walked.merge_pass;
      merge = MergeFor(statement, cursor->key);
      if (merge) break;
    }
    store.Advance(cursor);
    if (merge) MergeKeys(state, diag, merge->target, merge->merged);
  }
}

void MergeKeys(GroupState& state, Diagnostics& diag, std::string_view target,
               std::string_view merged) {
  std::string_view moving, staying;
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
  if (to != from) Join(state, to, to->statements.end(), from);
}

// One walk over the store in walking order. Every block behind the walk is
// closed: each of its statements names only identities it holds itself. So
// a block that takes in a closed block need not look at what it gains, and
// puts it in front of its list, where the walk has been; an open block goes
// to the end, where the walk goes on into it. Each statement is thus looked
// at once, and when the walk ends every block is closed.
void JoinToClosure(GroupState& state) {
  StatementStore& store = state.store;
  // The walked entries of the block's bucket: the few keys that share a
  // bucket are the only ones whose order the bucket number does not tell.
  std::unordered_set<const StoreEntry*> walked_in_bucket;
  std::int32_t bucket = -1;
  for (StoreCursor block = store.Begin(); !block.at_end(); store.Advance(block)) {
    if (block.bucket != bucket) walked_in_bucket.clear();
    bucket = block.bucket;
    if (block->next) walked_in_bucket.insert(block.entry);
    StatementList& statements = block->statements;
    for (auto it = statements.begin(); it != statements.end(); ++it) {
      ++state.walked.joins;
      const std::string_view text = it->text;
      for (std::size_t at = it->FirstIdentityAt(); at != std::string_view::npos;) {
        const std::string_view name = IdentityNameAt(text, at);
        // Most statements name the block's own key, which holds itself.
        const StoreCursor holder = name != block->key ? Resolve(state, name) : StoreCursor{};
        if (!holder.at_end() && holder != block) {
          const bool closed = holder.bucket < block.bucket ||
                              (holder.bucket == block.bucket && walked_in_bucket.count(holder.entry));
          Join(state, block, closed ? statements.begin() : statements.end(), holder);
        }
        if (!it->Has(Statement::kMoreIdentities)) break;
        at = marker::kIdentity.FindIn(text, at + name.size());
      }
    }
  }
}

}  // namespace tavrin

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

// The pass looks at an entry's list once, when its walk reaches it. A list
// that moves into an entry the walk has yet to reach would be looked at again
// there, and a chain of such moves would look at the same rows once per
// link. So the front of such a list that its own key found no merge in is
// kept as a stretch: none of its rows asks that key for a merge, so the only
// ones that can ask another key for one are its transaction and login rows
// that name an identity (that key), and the first of them is the one.
struct Stretch {
  StatementList::iterator last;
  StatementList::iterator ask;
  bool asks;  // false: no row of it can ask any key, and `ask` means nothing
};
// By the first statement of each stretch; the list nodes never move during
// the pass, only whole lists do.
using Stretches = std::unordered_map<const Statement*, Stretch>;

bool MayAskAnotherKey(const Statement& statement) {
  return (statement.Has(Statement::kTransactions) || statement.Has(Statement::kAuthentications)) &&
         statement.FirstIdentityAt() != std::string_view::npos;
}

struct Look {
  std::optional<Merge> merge;
  StatementList::iterator stop;  // the statement that asked, or the end
  StatementList::iterator ask;   // the first passed row that may ask another key
  bool asks = false;
};

// The first merge that `list` asks `key` for, from its front, passing over
// the stretches in it whole.
Look FirstMerge(GroupState& state, const Stretches& stretches, StatementList& list,
                std::string_view key) {
  Look look;
  auto it = list.begin();
  for (; it != list.end(); ++it) {
    ++state.walked.merge_pass;
    if (!stretches.empty()) {
      const auto stretch = stretches.find(&*it);
      if (stretch != stretches.end()) {
        const Stretch& passed = stretch->second;
        if (!passed.asks) {
          it = passed.last;
          continue;
        }
        if ((look.merge = MergeFor(*passed.ask, key))) {
          look.stop = passed.ask;
          return look;
        }
        // The stretch's own key: look at its rows one by one after all.
      }
    }
    if ((look.merge = MergeFor(*it, key))) break;
    if (!look.asks && MayAskAnotherKey(*it)) look.ask = it, look.asks = true;
  }
  look.stop = it;
  return look;
}

// True when the walk at `cursor` has yet to pass `entry`.
bool Ahead(const StoreCursor& entry, const StoreCursor& cursor) {
  if (cursor.at_end()) return false;
  if (entry.bucket != cursor.bucket) return entry.bucket > cursor.bucket;
  for (const StoreEntry* e = cursor.entry; e; e = e->next)
    if (e == entry.entry) return true;
  return false;
}

void MergeInto(GroupState& state, Diagnostics& diag, std::string_view target,
               std::string_view merged, Stretches* stretches) {
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
  if (to == from) return;
  const StoreCursor& cursor = state.store.cursor();
  StatementList& moved = from->statements;
  if (stretches && !moved.empty() && Ahead(to, cursor) && !Ahead(from, cursor)) {
    const Look look = FirstMerge(state, *stretches, moved, from->key);
    if (look.stop != moved.begin())
      (*stretches)[&moved.front()] = Stretch{std::prev(look.stop), look.ask, look.asks};
  }
  Join(state, to, to->statements.end(), from);
}

}  // namespace

void MergePass(GroupState& state, Diagnostics& diag) {
  StatementStore& store = state.store;
  StoreCursor& cursor = store.cursor();
  Stretches stretches;
  cursor = store.Begin();
  while (!cursor.at_end()) {
    const std::optional<Merge> merge =
        FirstMerge(state, stretches, cursor->statements, cursor->key).merge;
    store.Advance(cursor);
    if (merge) MergeInto(state, diag, merge->target, merge->merged, &stretches);
  }
}

void MergeKeys(GroupState& state, Diagnostics& diag, std::string_view target,
               std::string_view merged) {
  MergeInto(state, diag, target, merged, nullptr);
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
    // The last name found in this block: an identity's rows come in runs.
    std::string_view held = block->key;
    for (auto it = statements.begin(); it != statements.end(); ++it) {
      ++state.walked.joins;
      const std::string_view text = it->text;
      for (std::size_t at = it->FirstIdentityAt(); at != std::string_view::npos;) {
        const std::string_view name = IdentityNameAt(text, at);
        // Most statements name the block's own key, which holds itself.
        const StoreCursor holder =
            name != held && name != block->key ? Resolve(state, name) : StoreCursor{};
        if (!holder.at_end()) {
          if (holder != block) {
            const bool closed = holder.bucket < block.bucket ||
                                (holder.bucket == block.bucket && walked_in_bucket.count(holder.entry));
            Join(state, block, closed ? statements.begin() : statements.end(), holder);
          }
          held = name;  // in this block now, for the rest of its walk
        }
        if (!it->Has(Statement::kMoreIdentities)) break;
        at = marker::kIdentity.FindIn(text, at + name.size());
      }
    }
  }
}

}  // namespace tavrin

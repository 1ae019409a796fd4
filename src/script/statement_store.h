#pragma once
// The statements of the group being converted, filed under identity keys
// ("others_-2", "Authentications_-1", "identity_N"). A hash table of its own:
// the bucket of a key is its number plus 2, modulo the million buckets. So
// walking the buckets in order visits "others_-2", then "Authentications_-1",
// then identity_0 up to identity_999997 in ascending number; identity_999998
// and up wrap round into the first buckets, behind the entries already there.
// The merge pass and the joins walk in this order; the script writer orders
// its blocks by read position instead.
//
// Only buckets in use are ever visited: a bitmap of them makes walking and
// emptying cost the number of entries, not the million slots. The slots come
// in pages made on first use, so a group whose numbers lie close together
// touches a few kilobytes of them rather than 8 MB.

#include <cstdint>
#include <list>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/bucket_set.h"
#include "script/group_memory.h"
#include "script/statement.h"

namespace tavrin {

/// The statements of one key. Filing, merging and joining append and move
/// them; the writer sorts them by read position. The lists of the store's
/// entries take their nodes from the store, which frees them all at once.
using StatementList = std::pmr::list<Statement>;

/// A key and its statements. The store keeps its own copy of both, key
/// bytes included; `key` of an entry passed to Insert need only last as long
/// as the call.
struct StoreEntry {
  std::string_view key;
  StatementList statements;
  /// The next entry of the same bucket, in insertion order (store-owned).
  StoreEntry* next = nullptr;
};

class StatementStore;

/// A position in the store: one entry, or the end.
struct StoreCursor {
  StatementStore* store = nullptr;  // null: the end position
  std::int32_t bucket = 0;
  StoreEntry* entry = nullptr;

  bool at_end() const { return store == nullptr; }
  StoreEntry& operator*() const { return *entry; }
  StoreEntry* operator->() const { return entry; }
  friend bool operator==(const StoreCursor& a, const StoreCursor& b) {
    if (a.at_end() || b.at_end()) return a.at_end() == b.at_end();
    return a.entry == b.entry;
  }
};

class StatementStore {
 public:
  static constexpr std::int32_t kBucketCount = 1'000'000;

  StatementStore();
  StatementStore(const StatementStore&) = delete;
  StatementStore& operator=(const StatementStore&) = delete;

  /// The bucket of `key`: the number after its first '_' (the whole key when
  /// it has none) read like atoi, clamped to 32 bits, plus 2, folded into
  /// [0, kBucketCount).
  static std::int32_t BucketIndex(std::string_view key);

  /// The entry with exactly this key, or the end position.
  StoreCursor Find(std::string_view key);

  /// Adds a copy of `entry` at the end of its bucket unless its key is
  /// present already (then nothing changes and the flag is false).
  std::pair<StoreCursor, bool> Insert(StoreEntry entry);

  /// Removes the entry with this key; returns how many were removed (0 or 1).
  /// A shared cursor on that entry moves on to the entry after it.
  std::size_t Erase(std::string_view key);

  /// The first entry in walking order (bucket by bucket, then list order).
  StoreCursor Begin();
  /// Moves `cursor` to the next entry in walking order, or to the end.
  void Advance(StoreCursor& cursor);

  /// Removes every entry.
  void Clear();

  std::uint32_t size() const { return size_; }

  /// The one position shared by the parse stage, the merge pass and the
  /// writer: the result of their most recent lookup.
  StoreCursor& cursor() { return cursor_; }

 private:
  static constexpr int kPageBits = 10;
  static constexpr std::int32_t kPageSize = 1 << kPageBits;

  StoreCursor FirstFrom(std::int32_t bucket);
  StoreCursor FindIn(std::int32_t bucket, std::string_view key);
  /// The first entry of a bucket's chain, or null.
  StoreEntry* Head(std::int32_t bucket) const {
    const auto& page = pages_[static_cast<std::size_t>(bucket >> kPageBits)];
    return page ? page[bucket & (kPageSize - 1)] : nullptr;
  }
  /// The slot holding that first entry, its page made when missing.
  StoreEntry*& HeadSlot(std::int32_t bucket);

  // The entries, their keys and their statement lists, until Clear(): all
  // freed in one step, without visiting them.
  GroupMemory nodes_;
  // The first entry of each bucket's chain, kPageSize buckets to a page.
  std::vector<std::unique_ptr<StoreEntry*[]>> pages_;
  BucketSet in_use_;
  std::uint32_t size_ = 0;
  StoreCursor cursor_;
};

}  // namespace tavrin

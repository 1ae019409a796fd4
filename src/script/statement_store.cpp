#include "script/statement_store.h"

#include <algorithm>
#include <climits>

namespace tavrin {
namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi, but clamped to the 32-bit range instead of overflowing.
std::int64_t ReadNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > std::int64_t{INT_MAX} + 1) break;  // clamped below anyway
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return value;
}

}  // namespace

StatementStore::StatementStore()
    : pages_((kBucketCount + kPageSize - 1) / kPageSize), in_use_(kBucketCount) {}

StoreEntry*& StatementStore::HeadSlot(std::int32_t bucket) {
  auto& page = pages_[static_cast<std::size_t>(bucket >> kPageBits)];
  if (!page) page = std::make_unique<StoreEntry*[]>(kPageSize);  // all null
  return page[bucket & (kPageSize - 1)];
}

std::int32_t StatementStore::BucketIndex(std::string_view key) {
  // Nearly every key is "identity_" and its number: no need to look for the '_'.
  constexpr std::string_view kIdentityPrefix = "identity_";
  std::size_t underscore = kIdentityPrefix.size() - 1;
  if (!key.starts_with(kIdentityPrefix)) {
    underscore = 0;
    while (underscore < key.size() && key[underscore] != '_') ++underscore;
  }
  std::string_view number = underscore == key.size() ? key : key.substr(underscore + 1);
  // The common key, a few digits after the '_', without the general reading.
  if (!number.empty() && number.size() <= 9) {
    std::int32_t value = 0;
    std::size_t i = 0;
    for (; i < number.size() && number[i] >= '0' && number[i] <= '9'; ++i)
      value = value * 10 + (number[i] - '0');
    if (i == number.size()) return (value + 2) % kBucketCount;
  }
  std::int64_t index = (ReadNumber(number) + 2) % kBucketCount;
  if (index < 0) index += kBucketCount;
  return static_cast<std::int32_t>(index);
}

StoreCursor StatementStore::FindIn(std::int32_t bucket, std::string_view key) {
  for (StoreEntry* entry = Head(bucket); entry; entry = entry->next)
    if (entry->key == key) return StoreCursor{this, bucket, entry};
  return {};
}

StoreCursor StatementStore::Find(std::string_view key) { return FindIn(BucketIndex(key), key); }

std::pair<StoreCursor, bool> StatementStore::Insert(StoreEntry entry) {
  const std::int32_t bucket = BucketIndex(entry.key);
  if (!FindIn(bucket, entry.key).at_end()) return {StoreCursor{}, false};
  std::pmr::polymorphic_allocator<> allocator(&nodes_);
  char* key = allocator.allocate_object<char>(entry.key.size());
  std::copy(entry.key.begin(), entry.key.end(), key);
  // Never destroyed: everything it holds lives in nodes_ too.
  StoreEntry* added = allocator.new_object<StoreEntry>(
      StoreEntry{std::string_view(key, entry.key.size()), StatementList(&nodes_), nullptr});
  added->statements.insert(added->statements.end(), entry.statements.begin(),
                           entry.statements.end());
  StoreEntry** link = &HeadSlot(bucket);
  if (!*link) in_use_.Insert(bucket);
  while (*link) link = &(*link)->next;
  *link = added;
  ++size_;
  return {StoreCursor{this, bucket, added}, true};
}

std::size_t StatementStore::Erase(std::string_view key) {
  std::int32_t bucket = BucketIndex(key);
  if (!Head(bucket)) return 0;
  StoreEntry** link = &HeadSlot(bucket);
  std::size_t removed = 0;
  while (*link) {
    StoreEntry* entry = *link;
    if (entry->key != key) {
      link = &entry->next;
      continue;
    }
    if (!cursor_.at_end() && cursor_.entry == entry) Advance(cursor_);
    *link = entry->next;
    // Its statements' nodes go with the group; the list lets go of them now.
    entry->statements.clear();
    ++removed;
    --size_;
  }
  if (!Head(bucket)) in_use_.Remove(bucket);
  return removed;
}

StoreCursor StatementStore::FirstFrom(std::int32_t bucket) {
  std::int32_t found = in_use_.Next(bucket);
  if (found == BucketSet::kNone) return {};
  return StoreCursor{this, found, Head(found)};
}

StoreCursor StatementStore::Begin() { return FirstFrom(0); }

void StatementStore::Advance(StoreCursor& cursor) {
  if (cursor.at_end()) return;
  if (cursor.entry->next) {
    cursor.entry = cursor.entry->next;
    return;
  }
  cursor = FirstFrom(cursor.bucket + 1);
}

void StatementStore::Clear() {
  for (std::int32_t b = in_use_.Next(0); b != BucketSet::kNone; b = in_use_.Next(b + 1)) {
    HeadSlot(b) = nullptr;
    in_use_.Remove(b);
  }
  size_ = 0;
  cursor_ = {};
  nodes_.release();
}

}  // namespace tavrin

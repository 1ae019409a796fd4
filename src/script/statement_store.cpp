#include "script/statement_store.h"

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

StatementStore::StatementStore() : buckets_(kBucketCount), in_use_(kBucketCount) {}

std::int32_t StatementStore::BucketIndex(std::string_view key) {
  std::size_t underscore = 0;
  while (underscore < key.size() && key[underscore] != '_') ++underscore;
  std::string_view number = underscore == key.size() ? key : key.substr(underscore + 1);
  std::int64_t index = (ReadNumber(number) + 2) % kBucketCount;
  if (index < 0) index += kBucketCount;
  return static_cast<std::int32_t>(index);
}

StoreCursor StatementStore::Find(std::string_view key) {
  std::int32_t bucket = BucketIndex(key);
  Bucket* list = buckets_[static_cast<std::size_t>(bucket)].get();
  if (!list) return {};
  for (auto it = list->begin(); it != list->end(); ++it)
    if (it->key == key) return StoreCursor{this, bucket, it};
  return {};
}

std::pair<StoreCursor, bool> StatementStore::Insert(StoreEntry entry) {
  if (!Find(entry.key).at_end()) return {StoreCursor{}, false};
  std::int32_t bucket = BucketIndex(entry.key);
  auto& list = buckets_[static_cast<std::size_t>(bucket)];
  if (!list) {
    list = std::make_unique<Bucket>(&nodes_);
    in_use_.Insert(bucket);
  }
  list->push_back(StoreEntry{std::move(entry.key), StatementList(&nodes_)});
  StatementList& statements = list->back().statements;
  statements.insert(statements.end(), entry.statements.begin(), entry.statements.end());
  ++size_;
  return {StoreCursor{this, bucket, std::prev(list->end())}, true};
}

std::size_t StatementStore::Erase(std::string_view key) {
  std::int32_t bucket = BucketIndex(key);
  auto& list = buckets_[static_cast<std::size_t>(bucket)];
  if (!list) return 0;
  std::size_t removed = 0;
  for (auto it = list->begin(); it != list->end();) {
    if (it->key != key) {
      ++it;
      continue;
    }
    if (!cursor_.at_end() && cursor_.bucket == bucket && cursor_.entry == it) Advance(cursor_);
    it = list->erase(it);
    ++removed;
    --size_;
  }
  if (list->empty()) {
    list.reset();
    in_use_.Remove(bucket);
  }
  return removed;
}

StoreCursor StatementStore::FirstFrom(std::int32_t bucket) {
  std::int32_t found = in_use_.Next(bucket);
  if (found == BucketSet::kNone) return {};
  return StoreCursor{this, found, buckets_[static_cast<std::size_t>(found)]->begin()};
}

StoreCursor StatementStore::Begin() { return FirstFrom(0); }

void StatementStore::Advance(StoreCursor& cursor) {
  if (cursor.at_end()) return;
  Bucket& list = *buckets_[static_cast<std::size_t>(cursor.bucket)];
  if (std::next(cursor.entry) != list.end()) {
    ++cursor.entry;
    return;
  }
  cursor = FirstFrom(cursor.bucket + 1);
}

void StatementStore::Clear() {
  for (std::int32_t b = in_use_.Next(0); b != BucketSet::kNone; b = in_use_.Next(b + 1)) {
    buckets_[static_cast<std::size_t>(b)].reset();
    in_use_.Remove(b);
  }
  size_ = 0;
  cursor_ = {};
  nodes_.release();
}

}  // namespace tavrin

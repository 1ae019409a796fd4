#include "script/statement_store.h"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

std::vector<std::string> Walk(StatementStore& store) {
  std::vector<std::string> keys;
  for (StoreCursor c = store.Begin(); !c.at_end(); store.Advance(c)) keys.emplace_back(c->key);
  return keys;
}

void Add(StatementStore& store, const std::string& key) {
  ASSERT_TRUE(store.Insert(StoreEntry{key, {{"s", 0}}}).second) << key;
}

using V = std::vector<std::string>;

TEST(StatementStore, BucketsFollowTheNumberInTheKey) {
  EXPECT_EQ(StatementStore::BucketIndex("others_-2"), 0);
  EXPECT_EQ(StatementStore::BucketIndex("Authentications_-1"), 1);
  EXPECT_EQ(StatementStore::BucketIndex("identity_0"), 2);
  EXPECT_EQ(StatementStore::BucketIndex("identity_37"), 39);
  EXPECT_EQ(StatementStore::BucketIndex("identity_999998"), 0);
  EXPECT_EQ(StatementStore::BucketIndex("abc"), 2);
  EXPECT_EQ(StatementStore::BucketIndex("identity_ 12x"), 14);
  // Numbers the table was not made for still land in a valid bucket.
  EXPECT_EQ(StatementStore::BucketIndex("identity_-5"), 999997);
  EXPECT_EQ(StatementStore::BucketIndex("identity_99999999999999"), 483649);
  EXPECT_EQ(StatementStore::BucketIndex("identity_-99999999999999"), 1000000 - 483646);
}

TEST(StatementStore, WalksBucketsInOrderAndSharedBucketsInInsertionOrder) {
  StatementStore store;
  EXPECT_TRUE(store.Find("others_-2").at_end());
  EXPECT_EQ(store.size(), 0u);
  Add(store, "identity_5");
  Add(store, "identity_999998");
  Add(store, "others_-2");
  Add(store, "Authentications_-1");
  Add(store, "identity_-5");
  EXPECT_EQ(Walk(store),
            (V{"identity_999998", "others_-2", "Authentications_-1", "identity_5", "identity_-5"}));
  EXPECT_EQ(store.Find("others_-2")->key, "others_-2");
  EXPECT_EQ(store.Find("identity_999998")->key, "identity_999998");
  EXPECT_EQ(store.size(), 5u);

  auto [cursor, inserted] = store.Insert(StoreEntry{"identity_5", {{"other", 1}}});
  EXPECT_FALSE(inserted);
  EXPECT_TRUE(cursor.at_end());
  ASSERT_EQ(store.Find("identity_5")->statements.size(), 1u);
  EXPECT_EQ(store.Find("identity_5")->statements.front().text, "s");
  EXPECT_EQ(store.size(), 5u);
}

TEST(StatementStore, EraseFreesBucketsAndKeepsTheSharedCursorOnALiveEntry) {
  StatementStore store;
  Add(store, "identity_1");
  Add(store, "identity_2");
  Add(store, "identity_999998");
  Add(store, "others_-2");

  store.cursor() = store.Find("identity_2");
  EXPECT_EQ(store.Erase("identity_2"), 1u);
  EXPECT_TRUE(store.cursor().at_end());  // nothing after it
  EXPECT_EQ(store.Erase("identity_2"), 0u);

  store.cursor() = store.Find("identity_999998");
  EXPECT_EQ(store.Erase("identity_999998"), 1u);
  EXPECT_EQ(store.cursor()->key, "others_-2");  // same bucket, next in list
  store.cursor() = store.Find("others_-2");
  EXPECT_EQ(store.Erase("others_-2"), 1u);
  EXPECT_EQ(store.cursor()->key, "identity_1");  // next bucket in use
  EXPECT_EQ(store.size(), 1u);

  Add(store, "others_-2");  // into a bucket that was freed
  EXPECT_EQ(Walk(store), (V{"others_-2", "identity_1"}));
  store.Clear();
  EXPECT_EQ(store.size(), 0u);
  EXPECT_TRUE(store.Begin().at_end());
  EXPECT_TRUE(store.cursor().at_end());
}

TEST(StatementStore, KeepsItsOwnKeysAndChainsEntriesOfOneBucketInOrder) {
  StatementStore store;
  for (int round = 0; round < 2; ++round) {  // the second after Clear(), on reused memory
    for (const char* key : {"identity_1000001", "identity_1", "identity_2000001"}) {
      std::string temporary = key;
      ASSERT_TRUE(store.Insert(StoreEntry{temporary, {{"s", 0}}}).second);
      temporary.assign(temporary.size(), 'x');  // the store must not look at it again
    }
    EXPECT_EQ(Walk(store), (V{"identity_1000001", "identity_1", "identity_2000001"}));
    EXPECT_EQ(store.Erase("identity_1"), 1u);  // from the middle of the chain
    EXPECT_EQ(Walk(store), (V{"identity_1000001", "identity_2000001"}));
    Add(store, "identity_1");
    EXPECT_EQ(Walk(store), (V{"identity_1000001", "identity_2000001", "identity_1"}));
    EXPECT_EQ(store.Find("identity_2000001")->statements.front().text, "s");
    store.Clear();
    EXPECT_TRUE(store.Find("identity_1").at_end());
  }
}

}  // namespace
}  // namespace tavrin

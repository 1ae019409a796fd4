#include "script/key_merging.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <set>

#include "script/script_test_support.h"

namespace tavrin {
namespace {

using test::Contents;
using test::Fill;
using test::Entries;

class MergeTest : public ::testing::Test {
 protected:
  GroupState state;
  test::CapturedDiagnostics captured;
  void Pass() { MergePass(state, captured.diag); }
};

TEST_F(MergeTest, TransactionRowPullsTheIdentityItNames) {
  Fill(state, {{"identity_2", {"a2", "INSERT INTO tbl_Transactions(x) VALUES (identity_5);"}},
               {"identity_5", {"a5", "b5"}}});
  Pass();
  EXPECT_EQ(Contents(state),
            (Entries{{"identity_2",
                      {"a2", "INSERT INTO tbl_Transactions(x) VALUES (identity_5);", "a5", "b5"}}}));
  EXPECT_EQ(state.merge_map.at("identity_5"), "identity_2");
  EXPECT_EQ(captured.out.str(), "");
}

TEST_F(MergeTest, OwnAuthenticationRowIsPassedAndTheScanGoesOn) {
  Fill(state, {{"identity_1", {"tbl_Authentications identity_1", "tbl_Actions identity_1 identity_3"}},
               {"identity_3", {"c"}}});
  Pass();
  EXPECT_EQ(Contents(state),
            (Entries{{"identity_1",
                      {"tbl_Authentications identity_1", "tbl_Actions identity_1 identity_3", "c"}}}));
}

TEST_F(MergeTest, ActionRowMergesItsSecondIdentityIntoItsFirstWhereverItStands) {
  Fill(state, {{"others_-2", {"tbl_Actions(identity_3, identity_8)"}},
               {"identity_3", {"c3"}},
               {"identity_8", {"c8"}}});
  Pass();
  EXPECT_EQ(Contents(state), (Entries{{"others_-2", {"tbl_Actions(identity_3, identity_8)"}},
                                      {"identity_3", {"c3", "c8"}}}));
}

TEST_F(MergeTest, OneMergePerEntryAndChainsAreFollowed) {
  // identity_1 ties 2 and 3 but only its first row counts; identity_3 then
  // asks for 2 to go into 3, and identity_4 for 4 into 2, already gone into 1.
  Fill(state, {{"identity_1", {"tbl_Actions identity_1 identity_2", "tbl_Actions identity_1 identity_3"}},
               {"identity_2", {"r2"}},
               {"identity_3", {"tbl_Actions identity_3 identity_9"}},
               {"identity_4", {"tbl_Actions identity_2 identity_4"}}});
  Pass();
  // The merge of 2 removed the entry after identity_1 under the cursor: the
  // walk went on with identity_3, whose merge found no identity_9.
  EXPECT_EQ(Contents(state),
            (Entries{{"identity_1",
                      {"tbl_Actions identity_1 identity_2", "tbl_Actions identity_1 identity_3",
                       "r2", "tbl_Actions identity_2 identity_4"}},
                     {"identity_3", {"tbl_Actions identity_3 identity_9"}}}));
  EXPECT_EQ(state.merge_map.at("identity_4"), "identity_1");
  EXPECT_EQ(captured.out.str(),
            "[MergeKeys] Warning : Could not find key indentity identity_9in the map Key Merging aborted\n");
}

TEST_F(MergeTest, MissingTargetIsReportedWithItsOwnEnding) {
  Fill(state, {{"identity_4", {"x"}}});
  MergeKeys(state, captured.diag, "identity_7", "identity_4");
  EXPECT_EQ(captured.out.str(),
            "[MergeKeys] Warning : Could not find key indentity identity_7in the map. Key merging aborted\n");
  EXPECT_EQ(Contents(state), (Entries{{"identity_4", {"x"}}}));
  EXPECT_TRUE(state.merge_map.empty());
}

TEST_F(MergeTest, MergingAKeyIntoItselfChangesNothing) {
  Fill(state, {{"identity_3", {"tbl_Actions(identity_3, identity_3)", "tbl_Actions identity_3 identity_5"}},
               {"identity_5", {"tbl_Actions identity_5 identity_6"}},
               {"identity_6", {"c6"}}});
  Pass();  // identity_3's one merge is the self-merge; 5 takes 6
  EXPECT_EQ(Contents(state),
            (Entries{{"identity_3", {"tbl_Actions(identity_3, identity_3)", "tbl_Actions identity_3 identity_5"}},
                     {"identity_5", {"tbl_Actions identity_5 identity_6", "c6"}}}));
  // A chain that leads back to the merged key is a self-merge too.
  MergeKeys(state, captured.diag, "identity_6", "identity_5");
  EXPECT_EQ(Contents(state).size(), 2u);
  EXPECT_EQ(state.merge_map.size(), 1u);
  EXPECT_EQ(captured.out.str(), "");
}

TEST_F(MergeTest, LongChainsAreFollowedWithoutRecursion) {
  // Each identity k asks for k-1 to go into it, so the growing list moves
  // down the chain and every lookup of an old key walks the merge map.
  const int n = 100000;
  for (int k = 1; k <= n; ++k) {
    std::string me = "identity_" + std::to_string(k);
    std::string previous = "identity_" + std::to_string(k - 1);
    Fill(state, {{me, {k == 1 ? "first" : "tbl_Actions " + me + " " + previous}}});
  }
  Pass();
  ASSERT_EQ(state.store.size(), 1u);  // everything ended in the last one
  EXPECT_EQ(state.store.Begin()->statements.size(), static_cast<std::size_t>(n));
  // identity_1 went into 2, 2 into 3, ... so this leads back to the last one.
  MergeKeys(state, captured.diag, "identity_1", "identity_" + std::to_string(n));
  EXPECT_EQ(state.store.size(), 1u);
  EXPECT_EQ(captured.out.str(), "");
}

TEST_F(MergeTest, MergedKeysAreFollowedToWhereTheirStatementsAre) {
  Fill(state, {{"identity_1", {"a1"}}, {"identity_2", {"a2"}}, {"identity_3", {"a3"}}});
  MergeKeys(state, captured.diag, "identity_1", "identity_2");
  // identity_2 went into identity_1: merging it again moves identity_1.
  MergeKeys(state, captured.diag, "identity_3", "identity_2");
  EXPECT_EQ(Contents(state), (Entries{{"identity_3", {"a3", "a1", "a2"}}}));
  EXPECT_EQ(state.merge_map.at("identity_1"), "identity_3");
  MergeKeys(state, captured.diag, "identity_3", "identity_1");  // now a self-merge
  EXPECT_EQ(captured.out.str(), "");

  // The warning names the key where the chain ends.
  state.merge_map["identity_7"] = "identity_8";
  MergeKeys(state, captured.diag, "identity_3", "identity_7");
  EXPECT_EQ(captured.out.str(),
            "[MergeKeys] Warning : Could not find key indentity identity_8in the map Key Merging aborted\n");
  EXPECT_EQ(Contents(state), (Entries{{"identity_3", {"a3", "a1", "a2"}}}));
}

TEST_F(MergeTest, JoinsGatherEveryIdentityABlockNames) {
  // identity_2 ties 1 and 3 but the pass makes one merge per entry; the join
  // walk brings identity_3 in, then identity_4 which a gained row names,
  // even through a name glued to another ("identity_5identity_4").
  Fill(state, {{"others_-2", {"tbl_Transactions(ParentId=identity_6)"}},
               {"identity_1", {"s1"}},
               {"identity_2", {"tbl_Actions(identity_2, identity_1)", "tbl_Actions(identity_2, identity_3)"}},
               {"identity_3", {"x identity_5identity_4"}},
               {"identity_4", {"s4"}},
               {"identity_5", {"s5"}},
               {"identity_6", {"s6"}},
               {"identity_7", {"s7 identity_7"}}});
  Pass();
  JoinToClosure(state);
  EXPECT_EQ(Contents(state),
            (Entries{{"others_-2", {"tbl_Transactions(ParentId=identity_6)", "s6"}},
                     {"identity_2",
                      {"tbl_Actions(identity_2, identity_1)", "tbl_Actions(identity_2, identity_3)",
                       "s1", "x identity_5identity_4", "s5", "s4"}},
                     {"identity_7", {"s7 identity_7"}}}));
  // Each join is recorded under the key of the entry it removed.
  EXPECT_EQ(state.merge_map.at("identity_3"), "identity_2");
  EXPECT_EQ(state.merge_map.at("identity_4"), "identity_2");
  EXPECT_EQ(state.merge_map.at("identity_6"), "others_-2");
  EXPECT_EQ(captured.out.str(), "");
}

TEST_F(MergeTest, JoiningAMergedNameTakesTheBlockThatHoldsIt) {
  // identity_1 went into identity_2 by the pass; identity_9's row names
  // identity_1, so identity_2 joins identity_9, recorded as identity_2's move.
  // identity_2 was walked already, so its rows go in front, not looked at again.
  Fill(state, {{"identity_2", {"tbl_Actions(identity_2, identity_1)"}},
               {"identity_1", {"s1"}},
               {"identity_9", {"u identity_1"}}});
  Pass();
  JoinToClosure(state);
  EXPECT_EQ(Contents(state),
            (Entries{{"identity_9", {"tbl_Actions(identity_2, identity_1)", "s1", "u identity_1"}}}));
  EXPECT_EQ(state.merge_map.at("identity_2"), "identity_9");
}

TEST(MergePassTest, AWalkedListMovedAheadOfTheWalkAsksWhatItsRowsWouldAsk) {
  // identity_3 moves identity_2, already walked, into identity_8, ahead of
  // the walk; identity_5 then moves identity_6 in behind it. identity_8's
  // one merge is the first row of its list that asks it for one: identity_2's
  // transaction row when there is one (a merge into itself, nothing more),
  // else identity_6's action row, whose identity_99 is missing.
  struct Case {
    std::vector<std::string> identity_2;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"d2", "tbl_Transactions(x) identity_2"}, ""},
      {{"d2", "e2"},
       "[MergeKeys] Warning : Could not find key indentity identity_99in the map Key Merging aborted\n"},
  };
  for (const Case& c : cases) {
    GroupState state;
    test::CapturedDiagnostics captured;
    Fill(state, {{"identity_2", c.identity_2},
                 {"identity_3", {"tbl_Actions identity_8 identity_2"}},
                 {"identity_5", {"tbl_Actions identity_8 identity_6"}},
                 {"identity_6", {"tbl_Actions identity_6 identity_99"}},
                 {"identity_8", {"d8"}}});
    MergePass(state, captured.diag);
    EXPECT_EQ(captured.out.str(), c.out) << c.identity_2[1];
  }
}

// A group whose transactions name each other freely, filed as the parse
// stage files it: identity k holds its transaction row, its declaration and
// SELECT, a detail row and up to two action rows, half of which name an
// earlier identity too.
struct Web {
  std::uint64_t statements = 0;
  std::vector<std::pair<int, int>> ties;
};

Web FillWeb(GroupState& state, int n, unsigned seed) {
  std::mt19937 random(seed);
  Web web;
  Entries entries;
  for (int k = 1; k <= n; ++k) {
    const std::string me = "identity_" + std::to_string(k);
    std::vector<std::string> rows = {"INSERT INTO tbl_Transactions(ID) VALUES (seq.NEXTVAL);",
                                     "COLUMN " + me + " NEW_VALUE " + me,
                                     "SELECT seq.CURRVAL into " + me + " FROM DUAL;",
                                     "INSERT INTO tbl_Details(ID) VALUES (" + me + ");"};
    for (auto actions = random() % 3; actions > 0; --actions) {
      if (k > 1 && random() % 2 == 0) {
        const int j = 1 + static_cast<int>(random() % static_cast<unsigned>(k - 1));
        rows.push_back("INSERT INTO tbl_Actions(ID, Other) VALUES (" + me + ", identity_" +
                       std::to_string(j) + ");");
        web.ties.emplace_back(k, j);
      } else {
        rows.push_back("INSERT INTO tbl_Actions(ID) VALUES (" + me + ");");
      }
    }
    web.statements += rows.size();
    entries.emplace_back(me, std::move(rows));
  }
  Fill(state, entries);
  return web;
}

// How many groups the ties make of identities 1 to n.
std::size_t Components(int n, const std::vector<std::pair<int, int>>& ties) {
  std::vector<int> parent(static_cast<std::size_t>(n) + 1);
  std::iota(parent.begin(), parent.end(), 0);
  auto root = [&](int i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  std::size_t components = static_cast<std::size_t>(n);
  for (auto [a, b] : ties)
    if (root(a) != root(b)) parent[root(a)] = root(b), --components;
  return components;
}

TEST(ClosureGrowthTest, AWebOfTiesIsWalkedAFewTimesAndEndsAsItsComponents) {
  for (int n : {2'000, 20'000}) {
    SCOPED_TRACE(n);
    GroupState state;
    test::CapturedDiagnostics captured;
    const Web web = FillWeb(state, n, 17);
    MergePass(state, captured.diag);
    JoinToClosure(state);
    EXPECT_LT(state.walked.merge_pass, 3 * web.statements);
    EXPECT_LT(state.walked.joins, 3 * web.statements);

    // Every block holds the declaration of each identity its rows name, and
    // there are as many blocks as the ties make groups: each is one of them.
    EXPECT_EQ(state.store.size(), Components(n, web.ties));
    for (StoreCursor block = state.store.Begin(); !block.at_end(); state.store.Advance(block)) {
      std::set<std::string_view> declared, named;
      for (const Statement& s : block->statements) {
        if (s.Has(Statement::kColumnIdentity)) declared.insert(s.FirstIdentity());
        for (std::size_t at = s.text.find("identity_"); at != std::string_view::npos;
             at = s.text.find("identity_", at + 1))
          named.insert(s.text.substr(at, s.text.find_first_not_of("0123456789", at + 9) - at));
      }
      ASSERT_EQ(named, declared) << block->key;
    }
    EXPECT_EQ(captured.out.str(), "");
  }
}

TEST(ClosureGrowthTest, AChainOfMovesAheadOfTheWalkLooksAtEachRowAFewTimes) {
  // identity_2k+1 moves identity_2k, which holds every even identity below
  // it, into identity_2k+2, which the walk reaches next.
  for (int n : {2'000, 20'000}) {
    SCOPED_TRACE(n);
    GroupState state;
    test::CapturedDiagnostics captured;
    Entries entries;
    std::uint64_t statements = 0;
    for (int k = 1; k <= n; ++k) {
      const std::string me = "identity_" + std::to_string(2 * k);
      entries.push_back({me, {"d " + me, "e " + me, "f " + me}});
      entries.push_back({"identity_" + std::to_string(2 * k + 1),
                         {"tbl_Actions identity_" + std::to_string(2 * k + 2) + " " + me}});
      statements += 4;
    }
    Fill(state, entries);
    MergePass(state, captured.diag);
    EXPECT_LT(state.walked.merge_pass, 3 * statements);
    // The last move finds no identity_2n+2; every even identity ends in identity_2n.
    EXPECT_EQ(state.store.size(), static_cast<std::size_t>(n) + 1);
    EXPECT_EQ(state.store.Find("identity_" + std::to_string(2 * n))->statements.size(),
              3u * static_cast<std::size_t>(n));
  }
}

}  // namespace
}  // namespace tavrin

#include "script/currval_readers.h"

#include <gtest/gtest.h>

#include "script/script_test_support.h"

namespace tavrin {
namespace {

using test::Contents;
using test::Entries;
using test::FillAt;
using test::PositionedEntries;

struct Case {
  const char* name;
  PositionedEntries before;
  Entries after;
};

TEST(CurrvalReaders, JoinTheEntryOfTheNextvalTheyRead) {
  const Case cases[] = {
      {"the latest NEXTVAL before the row, not the one after it",
       {{"others_-2", {{"INSERT INTO d(a) VALUES (s.CURRVAL, 1)", 5}}},
        {"identity_1", {{"SELECT s.NEXTVAL identity_1 FROM DUAL", 2}}},
        {"identity_2", {{"INSERT INTO tbl_Transactions(ID) VALUES (s.NEXTVAL)", 7}}}},
       {{"others_-2", {}},
        {"identity_1", {"SELECT s.NEXTVAL identity_1 FROM DUAL", "INSERT INTO d(a) VALUES (s.CURRVAL, 1)"}},
        {"identity_2", {"INSERT INTO tbl_Transactions(ID) VALUES (s.NEXTVAL)"}}}},
      {"a NEXTVAL among the plain rows keeps the row there",
       {{"others_-2", {{"INSERT INTO t(a) VALUES (s.NEXTVAL)", 3}, {"UPDATE d SET a = s.CURRVAL", 4}}},
        {"identity_1", {{"SELECT s.NEXTVAL identity_1 FROM DUAL", 1}}}},
       {{"others_-2", {"INSERT INTO t(a) VALUES (s.NEXTVAL)", "UPDATE d SET a = s.CURRVAL"}},
        {"identity_1", {"SELECT s.NEXTVAL identity_1 FROM DUAL"}}}},
      {"no NEXTVAL before it, a SELECT, another sequence, no sequence word",
       {{"others_-2",
         {{"UPDATE d SET a = s.CURRVAL", 0},
          {"SELECT s.CURRVAL FROM DUAL", 4},
          {"UPDATE d SET a = t.CURRVAL", 5},
          {"UPDATE d SET a = (.CURRVAL)", 6}}},
        {"identity_1", {{"SELECT s.NEXTVAL identity_1 FROM DUAL", 1}}}},
       {{"others_-2",
         {"UPDATE d SET a = s.CURRVAL", "SELECT s.CURRVAL FROM DUAL", "UPDATE d SET a = t.CURRVAL",
          "UPDATE d SET a = (.CURRVAL)"}},
        {"identity_1", {"SELECT s.NEXTVAL identity_1 FROM DUAL"}}}},
      {"S.NEXTVAL counts only with no word character before S",
       {{"others_-2", {{"UPDATE d SET a = s.CURRVAL, b = t.NEXTVAL", 5}}},
        {"identity_1", {{"SELECT app.s.NEXTVAL identity_1 FROM DUAL", 1}}},
        {"identity_2", {{"SELECT xs.NEXTVAL, s_2.NEXTVAL identity_2 FROM DUAL", 3}}}},
       {{"others_-2", {}},
        {"identity_1", {"SELECT app.s.NEXTVAL identity_1 FROM DUAL", "UPDATE d SET a = s.CURRVAL, b = t.NEXTVAL"}},
        {"identity_2", {"SELECT xs.NEXTVAL, s_2.NEXTVAL identity_2 FROM DUAL"}}}},
      {"the first CURRVAL names the sequence; a row's own NEXTVAL is not before it",
       {{"others_-2", {{"INSERT INTO d(a, b) VALUES (s.NEXTVAL, s.CURRVAL, t.CURRVAL)", 5}}},
        {"identity_1", {{"SELECT s.NEXTVAL identity_1 FROM DUAL", 1}}},
        {"identity_2", {{"SELECT t.NEXTVAL identity_2 FROM DUAL", 3}}}},
       {{"others_-2", {}},
        {"identity_1",
         {"SELECT s.NEXTVAL identity_1 FROM DUAL", "INSERT INTO d(a, b) VALUES (s.NEXTVAL, s.CURRVAL, t.CURRVAL)"}},
        {"identity_2", {"SELECT t.NEXTVAL identity_2 FROM DUAL"}}}},
      {"every row finds its entry as the entries stood before the first move",
       {{"others_-2",
         {{"INSERT INTO d(a, b) VALUES (s.CURRVAL, t.NEXTVAL)", 4}, {"UPDATE e SET a = t.CURRVAL", 6}}},
        {"identity_1", {{"SELECT s.NEXTVAL identity_1 FROM DUAL", 1}}},
        {"identity_2", {{"SELECT t.NEXTVAL identity_2 FROM DUAL", 2}}}},
       {{"others_-2", {"UPDATE e SET a = t.CURRVAL"}},
        {"identity_1", {"SELECT s.NEXTVAL identity_1 FROM DUAL", "INSERT INTO d(a, b) VALUES (s.CURRVAL, t.NEXTVAL)"}},
        {"identity_2", {"SELECT t.NEXTVAL identity_2 FROM DUAL"}}}},
      {"each row takes the NEXTVAL latest before it",
       {{"others_-2", {{"UPDATE a SET x = s.CURRVAL", 9}, {"UPDATE b SET x = s.CURRVAL", 4},
                       {"UPDATE c SET x = s.CURRVAL", 12}}},
        {"identity_7", {{"SELECT s.NEXTVAL identity_7 FROM DUAL", 3}, {"SELECT s.NEXTVAL x", 10}}},
        {"identity_3", {{"SELECT s.NEXTVAL identity_3 FROM DUAL", 7}}}},
       {{"others_-2", {}},
        {"identity_3", {"SELECT s.NEXTVAL identity_3 FROM DUAL", "UPDATE a SET x = s.CURRVAL"}},
        {"identity_7", {"SELECT s.NEXTVAL identity_7 FROM DUAL", "SELECT s.NEXTVAL x",
                        "UPDATE b SET x = s.CURRVAL", "UPDATE c SET x = s.CURRVAL"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GroupState state;
    FillAt(state, c.before);
    JoinCurrvalReaders(state);
    EXPECT_EQ(Contents(state), c.after);
  }
}

}  // namespace
}  // namespace tavrin

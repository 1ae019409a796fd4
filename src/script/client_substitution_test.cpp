#include "script/client_substitution.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "script/statement_text.h"

namespace tavrin {
namespace {

struct Case {
  const char* in;
  const char* out;
};

void ExpectRewrites(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::string statement = c.in;
    ASSERT_TRUE(RewriteStatement(statement)) << c.in;
    EXPECT_EQ(statement, c.out) << c.in;
  }
}

TEST(ClientSubstitution, AReferenceInsideALongerTextBecomesAConcatenation) {
  ExpectRewrites({
      {"INSERT INTO t(a,b) VALUES (1,'Approved by &identity_3');",
       "INSERT INTO t(a,b) VALUES (1,'Approved by ' || identity_3);"},
      {"INSERT INTO t(a,b,c) VALUES (&identity_1,'Note','&identity_1 ok')",
       "INSERT INTO t(a,b,c) VALUES (identity_1,'Note',identity_1 || ' ok');"},
      {"UPDATE t SET a = 'T&identity_1.X'", "UPDATE t SET a = 'T' || identity_1 || 'X';"},
      {"UPDATE t SET a = '&identity_1/&identity_2'", "UPDATE t SET a = identity_1 || '/' || identity_2;"},
      {"UPDATE t SET a = '&identity_1&identity_2'", "UPDATE t SET a = identity_1 || identity_2;"},
      {"UPDATE t SET a = 'it''s &identity_2'", "UPDATE t SET a = 'it''s ' || identity_2;"},
      // "&&" too, a doubled quote next to a reference, a '.' at the end.
      {"UPDATE t SET a = 'x&&identity_12'", "UPDATE t SET a = 'x' || identity_12;"},
      {"UPDATE t SET a = '''&identity_1'''", "UPDATE t SET a = '''' || identity_1 || '''';"},
      {"UPDATE t SET a = 'v&identity_1.', b = 2;", "UPDATE t SET a = 'v' || identity_1, b = 2;"},
      {"UPDATE t SET a = '&identity_1..'", "UPDATE t SET a = identity_1 || '.';"},
      // The other texts and references of the line, and any blanks after ';'.
      {"INSERT INTO t(a,b,c) VALUES ('&identity_3', 'a&identity_3', &identity_2) ; \r",
       "INSERT INTO t(a,b,c) VALUES (identity_3 , 'a' || identity_3, identity_2) ; \r"},
      {"UPDATE t SET a = 'x&identity_1', b = 'it''s', c = '&identity'",
       "UPDATE t SET a = 'x' || identity_1, b = 'it''s', c = 'identity';"},
  });
}

TEST(ClientSubstitution, ADotAfterAReferenceEndsIt) {
  ExpectRewrites({
      {"INSERT INTO t(a) VALUES (&identity_1.)", "INSERT INTO t(a) VALUES (identity_1);"},
      {"UPDATE t SET a = &identity_1. WHERE b = &&identity_2.;",
       "UPDATE t SET a = identity_1 WHERE b = identity_2;"},
      {"UPDATE t SET a = &identity_1.", "UPDATE t SET a = identity_1;"},
      // A text that is one reference and its dot is written as one reference.
      {"UPDATE t SET a = '&identity_1.'", "UPDATE t SET a = identity_1 ;"},
  });
}

TEST(ClientSubstitution, AReferenceJoinedToWhatFollowsItIsInvalid) {
  for (const char* text : {"INSERT INTO t(a,b) VALUES (&identity_1.5, 2)",
                           "UPDATE t SET a = &identity_1.x", "UPDATE t SET a = &&identity_1._b",
                           "UPDATE t SET a = 'x&identity_1', b = &identity_2.c"}) {
    std::string statement = text;
    EXPECT_FALSE(RewriteStatement(statement)) << text;
    EXPECT_EQ(ReadSubstitution(text), SubstitutionForm::kJoined) << text;
    std::string scratch;
    EXPECT_FALSE(Rewritten(text, scratch).has_value()) << text;
  }
  // Inside a text the dot goes, whatever follows it.
  ExpectRewrites({{"UPDATE t SET a = 'v&identity_1.5'", "UPDATE t SET a = 'v' || identity_1 || '5';"}});
}

TEST(ClientSubstitution, LinesTheClassicRewriteGetsRightKeepIt) {
  // Each of these goes the classic way, byte for byte as before.
  for (const char* text : {
           "INSERT INTO tbl_X(a,b) VALUES ('x','&identity_3');",
           "INSERT INTO t(a,b,c) VALUES (&identity_1, '&identity_1', 'LOGIN');",
           "UPDATE t SET a = '&&identity_1', b = 'c'",
           "INSERT INTO t(a) VALUES ('&identity_3",       // a quote that opens no text
           "UPDATE t SET a = '&'&identity_1' WHERE b = 'x'",  // references between texts
           "UPDATE t SET a = x&identity5, b = '&identity'",   // no reference: no digit
           "UPDATE t SET a = '&identity_x1 z'",
           "UPDATE t SET a = 'a.b' || &identity_1, c = 'R&D'",
           "no reference at all",
       }) {
    EXPECT_EQ(ReadSubstitution(text), SubstitutionForm::kClassic) << text;
  }
}

TEST(ClientSubstitution, LinesThatMakeOrHideReferencesLeaveNoneForTheClient) {
  // A '&' before "identity" that starts no reference goes, as the classic
  // rewrite drops it: the client would prompt for it.
  ExpectRewrites({
      {"UPDATE t SET a = &'&identity_1 x', b = &&identity_2;",
       "UPDATE t SET a = identity_1 || ' x', b = identity_2;"},
      {"'&'&'&identity_1'''", "'&'identity_1 || '''';"},
      {"&&&identity_1 '&identity_2 '&identity_3", "identity_1 identity_2 || ' 'identity_3;"},
      {"x '&identity_1;'", "x identity_1 || ';';"},
      {"UPDATE t SET a = '&&&identity_x &identity_1'", "UPDATE t SET a = 'identity_x ' || identity_1;"},
  });
}

}  // namespace
}  // namespace tavrin

namespace tavrin {
namespace {

TEST(ClientSubstitution, CountingQuotesReadsAsTextByText) {
  // Lines made of the pieces that matter, with a fixed seed: counting quotes
  // must say what reading text by text says.
  const std::string_view pieces[] = {"'", "''", "&identity_1", "&&identity_23", "&identity_",
                                     "&", ".", ".5", "x", " ", ",", "&identity_4.", "'&identity_2'"};
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    const std::uint32_t length = 1 + next() % 12;
    for (std::uint32_t i = 0; i < length; ++i) line += pieces[next() % std::size(pieces)];
    ASSERT_EQ(ReadSubstitution(line), ReadSubstitutionByTexts(line)) << line;
  }
}

}  // namespace
}  // namespace tavrin

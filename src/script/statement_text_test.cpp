#include "script/statement_text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tavrin {
namespace {

std::string Rewritten(std::string statement) {
  EXPECT_TRUE(RewriteStatement(statement)) << statement;
  return statement;
}

bool Valid(std::string statement) { return RewriteStatement(statement); }

TEST(RewriteStatement, SubstitutionReferencesBecomeVariables) {
  EXPECT_EQ(Rewritten("INSERT INTO tbl_Actions(a,b) VALUES (5,&identity_3)"),
            "INSERT INTO tbl_Actions(a,b) VALUES (5,identity_3);");
  EXPECT_EQ(Rewritten("INSERT INTO tbl_X(a,b) VALUES ('x','&identity_3');"),
            "INSERT INTO tbl_X(a,b) VALUES ('x',identity_3 );");
  // The quote that closes the reference goes, not the line's last one.
  EXPECT_EQ(Rewritten("INSERT INTO t(a,b) VALUES ('&identity_3', 'y');"),
            "INSERT INTO t(a,b) VALUES (identity_3 , 'y');");
  EXPECT_EQ(Rewritten("INSERT INTO t(a,b,c) VALUES (&identity_1, '&identity_1', 'LOGIN');"),
            "INSERT INTO t(a,b,c) VALUES (identity_1, identity_1 , 'LOGIN');");
  EXPECT_EQ(Rewritten("INSERT INTO t(a) VALUES ('&identity_3"), "INSERT INTO t(a) VALUES (identity_3;");
  EXPECT_EQ(Rewritten("INSERT INTO t(a,b) VALUES (&identity_1, &identity_2);"),
            "INSERT INTO t(a,b) VALUES (identity_1, identity_2);");
  EXPECT_EQ(Rewritten("UPDATE t SET a = &identity_1 WHERE b = &identity_2"),
            "UPDATE t SET a = identity_1 WHERE b = identity_2;");
  EXPECT_EQ(Rewritten("SELECT seq.CURRVAL identity_4 FROM DUAL;"),
            "SELECT seq.CURRVAL into identity_4 FROM DUAL;");
}

TEST(RewriteStatement, OneSemicolonWhateverBlanksFollowIt) {
  // CR CR LF line ends, a lone CR at the end and trailing blanks leave
  // these after the ";": a second one would be an empty statement.
  EXPECT_EQ(Rewritten("INSERT INTO t(a) VALUES (&identity_1);\r"),
            "INSERT INTO t(a) VALUES (identity_1);\r");
  EXPECT_EQ(Rewritten("INSERT INTO t(a) VALUES (&identity_1); \t\r "),
            "INSERT INTO t(a) VALUES (identity_1); \t\r ");
  EXPECT_EQ(Rewritten("UPDATE t SET a = &identity_1 \r"), "UPDATE t SET a = identity_1 \r;");
  EXPECT_EQ(Rewritten("&identity_1"), "identity_1;");
}

TEST(RewriteStatement, OnlyASelectTakesItsSequenceValueInto) {
  EXPECT_EQ(Rewritten("SELECT seq_T.NEXTVAL identity_4 FROM DUAL;"),
            "SELECT seq_T.NEXTVAL into identity_4 FROM DUAL;");
  EXPECT_EQ(Rewritten(" \tselect a.NEXTVAL identity_4, b.CURRVAL FROM DUAL;"),
            " \tselect a.NEXTVAL into identity_4, b.CURRVAL FROM DUAL;");
  EXPECT_EQ(Rewritten("Select(b.CURRVAL) identity_4 FROM DUAL;"),
            "Select(b.CURRVAL into) identity_4 FROM DUAL;");
  // Not a SELECT: values of a sequence in an INSERT stay as they are.
  for (const char* kept : {"INSERT INTO t(a,b) VALUES (seq_T.CURRVAL, 'x');",
                           "SELECTED seq.CURRVAL identity_1;", "SELECT_1 seq.CURRVAL identity_1;",
                           "-- SELECT seq.CURRVAL identity_1;", "SELECT", "SELECT seq.CURRVALUE;"}) {
    const std::string expected = std::string(kept) == "SELECT seq.CURRVALUE;"
                                     ? "SELECT seq.CURRVAL intoUE;"
                                     : kept;
    EXPECT_EQ(Rewritten(kept), expected);
  }
  EXPECT_EQ(Rewritten("UPDATE t SET a = 1"), "UPDATE t SET a = 1");
  EXPECT_EQ(Rewritten(""), "");
}

TEST(RewriteStatement, LastValueMustBeAValue) {
  EXPECT_FALSE(Valid("INSERT INTO tbl_X(a,b) VALUES (1, NULL);"));
  EXPECT_FALSE(Valid("INSERT INTO tbl_X(a,b) VALUES (1, NULL );"));
  EXPECT_FALSE(Valid("INSERT INTO tbl_X(a,b) VALUES (1, );"));
  EXPECT_FALSE(Valid("INSERT INTO tbl_X(a,b) VALUES (1,);"));
  EXPECT_TRUE(Valid("INSERT INTO tbl_X(a,b) VALUES (1,NULLX);"));
  EXPECT_TRUE(Valid("INSERT INTO tbl_X(a,b) VALUES (1,null);"));
  EXPECT_TRUE(Valid("INSERT INTO tbl_X(a) VALUES (NULL);"));  // no comma before it
  EXPECT_TRUE(Valid("a, b ) c"));
  EXPECT_TRUE(Valid(") , x"));  // the comma stands after the last ')'

  std::string rejected = "INSERT INTO t(a,b) VALUES (&identity_1, NULL)";
  EXPECT_FALSE(RewriteStatement(rejected));
  EXPECT_EQ(rejected, "INSERT INTO t(a,b) VALUES (&identity_1, NULL)");
}

// The rewrite as a plain loop that searches from the front every time.
bool ReferenceRewrite(std::string& statement) {
  if (!HasValidLastValue(statement)) return false;
  while (statement.find("&identity") != std::string::npos) {
    std::size_t quoted = statement.find("'&identity");
    if (quoted != std::string::npos) {
      statement.erase(quoted, 2);
      std::size_t closing = statement.find('\'', quoted);
      if (closing != std::string::npos) statement[closing] = ' ';
    } else {
      statement.erase(statement.find("&identity"), 1);
    }
    std::size_t last = statement.find_last_not_of(" \t\r");
    if (last == std::string::npos || statement[last] != ';') statement.push_back(';');
  }
  std::size_t start = statement.find_first_not_of(" \t");
  if (start != std::string::npos && statement.compare(start, 6, "SELECT") == 0) {
    std::size_t value = std::min(statement.find(".CURRVAL"), statement.find(".NEXTVAL"));
    if (value != std::string::npos) statement.insert(value + 8, " into");
  }
  return true;
}

TEST(RewriteStatement, ReferencesThatMakeNewReferencesAsTheyGo) {
  // Each of these makes a new reference, or takes one apart, as it is
  // rewritten; the rewrite must end as a search from the front would. Those
  // with a reference inside a longer text are substituted as the client does
  // it instead (client_substitution_test.cpp).
  const std::string texts[] = {
      "UPDATE t SET a = '&&identity_1', b = 'c'",
      "UPDATE t SET a = '&'&identity_1' WHERE b = '&identity_2'",
      "'&identity_1' '&identity_2' &identity_3 '&identity_4'",
      "UPDATE t SET a = x&identity5, b = '&identity'",
      "SELECT '&identity_1' s.CURRVAL FROM DUAL",
      "'&identity_1 SELECT s.NEXTVAL",
  };
  for (const std::string& text : texts) {
    std::string expected = text;
    std::string actual = text;
    ASSERT_TRUE(ReferenceRewrite(expected));
    ASSERT_TRUE(RewriteStatement(actual));
    EXPECT_EQ(actual, expected) << text;
  }
}

TEST(RewriteStatement, AStatementThatStaysAsItIsIsNotCopied) {
  std::string scratch;
  const std::string_view plain = "UPDATE t SET a = 1 WHERE b = 'identity_1'";
  EXPECT_EQ(tavrin::Rewritten(plain, scratch)->data(), plain.data());
  EXPECT_FALSE(NeedsRewrite("UPDATE t SET a = '&identit', b = s.NEXTVAL"));
  EXPECT_TRUE(NeedsRewrite("select s.NEXTVAL x from dual"));
  const std::string_view reference = "UPDATE t SET a = &identity_1";
  EXPECT_EQ(*tavrin::Rewritten(reference, scratch), "UPDATE t SET a = identity_1;");
}

TEST(IdentityNames, AreThePrefixAndTheDigitsAfterIt) {
  EXPECT_EQ(FirstIdentityName("x identity_12, identity_3"), "identity_12");
  EXPECT_EQ(FirstIdentityName("x identity_12"), "identity_12");
  EXPECT_EQ(FirstIdentityName("x identity_"), "identity_");
  EXPECT_EQ(FirstIdentityName("x identity_a1"), "identity_");
  EXPECT_EQ(FirstIdentityName("none"), "");
}

}  // namespace
}  // namespace tavrin

// Whole -p runs over lines the client substitutes inside texts, plain rows
// that read a transaction's sequence value, and -R's one block per group.

#include "e2e/harness.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

class SubstitutionE2eTest : public E2eTest {
 protected:
  void SetUp() override {
    fs::create_directory(dir() / "in");
    fs::create_directory(dir() / "out");
  }
  E2eResult Parse(std::vector<std::string> switches) {
    switches.insert(switches.end(), {"-i", Path(dir() / "in"), "-o", Path(dir() / "out")});
    return RunTavrin(switches);
  }
  std::string Script(int group) {
    return ReadFile(dir() / "out" / ("Output" + std::to_string(group) + ".tvr"));
  }
};

// Two transactions with a plain UPDATE read between them, a row of no
// identity that reads the first one's number, and texts that hold references.
const char kTwoTransactions[] =
    "INSERT INTO tbl_Transactions(ID) VALUES (seq_T.NEXTVAL);\n"
    "COLUMN identity_1 NEW_VALUE identity_1\n"
    "SELECT seq_T.CURRVAL identity_1 FROM DUAL;\n"
    "INSERT INTO tbl_Details(TransactionID, Note) VALUES (seq_T.CURRVAL, 'first');\n"
    "INSERT INTO tbl_Actions(TransactionID, Kind, Detail) VALUES (&identity_1,'Note','&identity_1 ok');\n"
    "UPDATE tbl_Transactions SET Kind='SEEN' WHERE Kind='UPD';\n"
    "INSERT INTO tbl_Transactions(ID) VALUES (seq_T.NEXTVAL);\n"
    "COLUMN identity_2 NEW_VALUE identity_2\n"
    "SELECT seq_T.CURRVAL identity_2 FROM DUAL;\n"
    "INSERT INTO tbl_Actions(TransactionID, Detail) VALUES (&identity_2., 'T&identity_2.X by &&identity_2');\n"
    "INSERT INTO tbl_Actions(TransactionID, Amount) VALUES (&identity_2, &identity_1.5);\n";

TEST_F(SubstitutionE2eTest, TextsAndCurrvalRowsInTheDefaultLayout) {
  WriteFile(dir() / "in" / "a.sql", kTwoTransactions);
  E2eResult r = Parse({"-l", "-p"});
  EXPECT_EQ(r.exit_code, 0);
  // The details row runs in the block of the transaction whose number it
  // reads; the joined reference is skipped as invalid, in both forms.
  EXPECT_EQ(Script(1),
            "SET VERIFY OFF\r\n"
            "DECLARE\r\n\tidentity_1 NUMBER;\r\nBEGIN\r\n"
            "\tINSERT INTO tbl_Transactions(ID) VALUES (seq_T.NEXTVAL);\r\n"
            "\t--COLUMN identity_1 NEW_VALUE identity_1\r\n"
            "\tSELECT seq_T.CURRVAL into identity_1 FROM DUAL;\r\n"
            "\tINSERT INTO tbl_Details(TransactionID, Note) VALUES (seq_T.CURRVAL, 'first');\r\n"
            "\tINSERT INTO tbl_Actions(TransactionID, Kind, Detail) VALUES (identity_1,'Note',identity_1 || ' ok');\r\n"
            "END;\r\n/\r\n"
            "BEGIN\r\n\tUPDATE tbl_Transactions SET Kind='SEEN' WHERE Kind='UPD';\r\nEND;\r\n/\r\n"
            "DECLARE\r\n\tidentity_2 NUMBER;\r\nBEGIN\r\n"
            "\tINSERT INTO tbl_Transactions(ID) VALUES (seq_T.NEXTVAL);\r\n"
            "\t--COLUMN identity_2 NEW_VALUE identity_2\r\n"
            "\tSELECT seq_T.CURRVAL into identity_2 FROM DUAL;\r\n"
            "\tINSERT INTO tbl_Actions(TransactionID, Detail) VALUES (identity_2, 'T' || identity_2 || 'X by ' || identity_2);\r\n"
            "END;\r\n/\r\nEXIT");
  const std::string joined =
      "INSERT INTO tbl_Actions(TransactionID, Amount) VALUES (&identity_2, &identity_1.5);";
  EXPECT_NE(r.out.find("\n\tParsing file :a.sql\t[AddRecordToKey]Found an invalid SQL statement " +
                       joined + ". Skipped.\n"),
            std::string::npos)
      << r.out;
  auto logs = LogFiles(dir());
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(logs.begin()->second.find("\t[AddRecordToKey]Found an invalid SQL statement " + joined +
                                      ". Skipped.\n"),
            std::string::npos);
}

TEST_F(SubstitutionE2eTest, ReadOrderWritesOneBlockWithTheSameLinesAndMessages) {
  WriteFile(dir() / "in" / "a.sql", kTwoTransactions);
  // A reference to an identity never declared, a row naming two identities.
  WriteFile(dir() / "in" / "b.sql",
            "INSERT INTO tbl_Actions(A, B) VALUES (&identity_2, &identity_1);\n"
            "UPDATE tbl_X SET a = &identity_9;\n");
  E2eResult blocks = Parse({"-p"});
  const std::string by_blocks = Script(1);
  E2eResult one = Parse({"-pR"});
  EXPECT_EQ(one.exit_code, 0);
  EXPECT_EQ(MaskElapsed(one.out), MaskElapsed(blocks.out));
  EXPECT_EQ(Script(1),
            "SET VERIFY OFF\r\n"
            "DECLARE\r\n\tidentity_1 NUMBER;\r\n\tidentity_2 NUMBER;\r\nBEGIN\r\n"
            "\tINSERT INTO tbl_Transactions(ID) VALUES (seq_T.NEXTVAL);\r\n"
            "\t--COLUMN identity_1 NEW_VALUE identity_1\r\n"
            "\tSELECT seq_T.CURRVAL into identity_1 FROM DUAL;\r\n"
            "\tINSERT INTO tbl_Details(TransactionID, Note) VALUES (seq_T.CURRVAL, 'first');\r\n"
            "\tINSERT INTO tbl_Actions(TransactionID, Kind, Detail) VALUES (identity_1,'Note',identity_1 || ' ok');\r\n"
            "\tUPDATE tbl_Transactions SET Kind='SEEN' WHERE Kind='UPD';\r\n"
            "\tINSERT INTO tbl_Transactions(ID) VALUES (seq_T.NEXTVAL);\r\n"
            "\t--COLUMN identity_2 NEW_VALUE identity_2\r\n"
            "\tSELECT seq_T.CURRVAL into identity_2 FROM DUAL;\r\n"
            "\tINSERT INTO tbl_Actions(TransactionID, Detail) VALUES (identity_2, 'T' || identity_2 || 'X by ' || identity_2);\r\n"
            "\tINSERT INTO tbl_Actions(A, B) VALUES (identity_2, identity_1);\r\n"
            "END;\r\n/\r\nEXIT");
  // The default layout writes the same lines, in two blocks.
  for (const char* line : {"\tUPDATE tbl_Transactions SET Kind='SEEN' WHERE Kind='UPD';\r\n",
                           "\tINSERT INTO tbl_Actions(A, B) VALUES (identity_2, identity_1);\r\n"})
    EXPECT_NE(by_blocks.find(line), std::string::npos) << line;
  EXPECT_NE(one.out.find("Uanble to find the identity key for identity identity_9"), std::string::npos);
}

}  // namespace
}  // namespace tavrin::test

// Whole -p runs: the scripts' bytes, the console and the log.

#include "e2e/harness.h"
#include "platform/env.h"
#include "script/script_writer.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

class ParseE2eTest : public E2eTest {
 protected:
  void SetUp() override {
    fs::create_directory(dir() / "in");
    fs::create_directory(dir() / "out");
  }
  std::string In() { return Path(dir() / "in"); }
  std::string Out() { return Path(dir() / "out"); }
  std::string Script(int group) {
    return ReadFile(dir() / "out" / ("Output" + std::to_string(group) + ".tvr"));
  }
  std::vector<std::string> Scripts() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir() / "out"))
      if (e.path().filename() != "tavrin.lock") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

const std::string kParseAbort =
    "\n\n[Tavrin]Error: Unable to parse SQL input file. Process will be aborted\n";

TEST_F(ParseE2eTest, ExamplesBatch) {
  const std::string examples = Path(fs::path(TAVRIN_EXAMPLES) / "batch");
  E2eResult r = RunTavrin({"-l", "-p", "-i", examples, "-o", Out()});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  const fs::path golden = fs::path(TAVRIN_SOURCE_DIR) / "tests" / "e2e" / "golden" / "examples";
  EXPECT_EQ(Script(1), ReadFile(golden / "Output1.tvr"));
  EXPECT_EQ(Script(2), ReadFile(golden / "Output2.tvr"));

  const std::string s1 = Out() + Sep() + "Output1.tvr";
  const std::string s2 = Out() + Sep() + "Output2.tvr";
  const std::string invalid =
      "INSERT INTO tbl_Actions(TransactionID, ActionType, Detail) VALUES (&identity_2, 'NOTE', NULL);";
  EXPECT_EQ(MaskElapsed(r.out),
            Banner() +
                "\nGrouping Started\n"
                "Grouping file:a.sql\tGroup :1\n"
                "Grouping file:b.sql\tGroup :1\n"
                "Grouping file:c.sql\tGroup :2\n"
                "\nCreating output log:" + s1 + "\n"
                "\n\tParsing file :a.sql"
                "\n\tParsing file :b.sql"
                "\t[AddRecordToKey]Found an invalid SQL statement " + invalid + ". Skipped.\n"
                "\n\n\tDumping memory contents to a file"
                "\nCreating output log:" + s2 + "\n"
                "\n\tParsing file :c.sql"
                "[ParseFileList] Warning : Uanble to find the identity key for identity identity_3 "
                "in the map. The entry has been skipped.\n"
                "\n\n\tDumping memory contents to a file"
                "\nTime elapsed :N secs\n");

  auto logs = LogFiles(dir());
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs.begin()->second,
            "[GroupFileList] Searching for input SQL files in the directory " + examples + "\n"
            "\t[GroupFileList] Found File : a.sql\n"
            "\t[GroupFileList] Found File : b.sql\n"
            "\t[GroupFileList] Found File : c.sql\n"
            "\n[GroupFileList]************Starting to group the files******************\n"
            "\t[GroupFileList] Grouping File :" + examples + Sep() + "a.sql\t[GroupFileList] Group:1\n"
            "\t[GroupFileList] Grouping File :" + examples + Sep() + "b.sql\t[GroupFileList] Group:1\n"
            "\t[GroupFileList] Grouping File :" + examples + Sep() + "c.sql\t[GroupFileList] Group:2\n"
            "[GroupFileList]************Grouping Ends******************\n"
            "\n[ParseFileList]************Starting to parse the files******************\n"
            "\n[ParseFileList]Creating output log: " + s1 + "\n"
            "[ParseFileList]Parsing file a.sql\n"
            "[ParseFileList]Parsing file b.sql\n"
            "\t[AddRecordToKey]Found an invalid SQL statement " + invalid + ". Skipped.\n"
            "\n[ParseFileList]Dumping memory contents to output file\n\n"
            "\n[ParseFileList]Creating output log: " + s2 + "\n"
            "[ParseFileList]Parsing file c.sql\n"
            "[ParseFileList]Warning : Unable to find identity key for identity identity_3 in map "
            "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\tThe entry has been skipped.\n"
            "\n[ParseFileList]Dumping memory contents to output file\n\n"
            "[ParseFileList]************Parsing Ends******************\n");
}

TEST_F(ParseE2eTest, DiscardedLastGroupAndWindowsLineEnds) {
  // Windows line ends in the input give the same script as Unix ones.
  WriteFile(dir() / "in" / "1.sql", "COLUMN identity_1 NEW_VALUE identity_1\r\nUPDATE t SET a = &identity_1\r\n");
  WriteFile(dir() / "in" / "2.sql", "DELETE FROM t\r");  // a lone CR stays in the line
  WriteFile(dir() / "in" / "3.sql", "COLUMN identity_1 x\nlingering\n");
  E2eResult r = RunTavrin({"-p", "-D", "x", "-i", In(), "-o", Out()});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(Scripts(), std::vector<std::string>{"Output1.tvr"});
  EXPECT_EQ(Script(1),
            "SET VERIFY OFF\r\n"
            "DECLARE\r\n\tidentity_1 NUMBER;\r\n"
            "BEGIN\r\n\t--COLUMN identity_1 NEW_VALUE identity_1\r\n\tUPDATE t SET a = identity_1;\r\nEND;\r\n/\r\n"
            "BEGIN\r\n\tDELETE FROM t\r\r\nEND;\r\n/\r\n"
            "EXIT");
  EXPECT_NE(r.out.find("Discarding Group Number:2\n\n"), std::string::npos);
}

TEST_F(ParseE2eTest, GroupWithEveryLineSkippedLeavesAnEmptyScript) {
  WriteFile(dir() / "in" / "a.sql", "INSERT INTO t(a) VALUES (&identity_9);\n");
  WriteFile(dir() / "in" / "b.sql", "COLUMN identity_1 x\n");
  WriteFile(dir() / "out" / "Output0.tvr", "-- an earlier run's script\r\nEXIT");
  E2eResult r = RunTavrin({"-p", "-i", In(), "-o", Out()});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(Scripts(), (std::vector<std::string>{"Output0.tvr", "Output1.tvr"}));
  EXPECT_EQ(Script(0), "");
  EXPECT_EQ(Script(1), "SET VERIFY OFF\r\nDECLARE\r\n\tidentity_1 NUMBER;\r\nBEGIN\r\n\t--COLUMN identity_1 x\r\nEND;\r\n/\r\nEXIT");
}

TEST_F(ParseE2eTest, DeclarationWithoutSpaceEndsTheRunAndKeepsEarlierScripts) {
  WriteFile(dir() / "in" / "a.sql", "COLUMN identity_1 x\n");
  WriteFile(dir() / "in" / "b.sql", "COLUMN identity_1 y\nCOLUMN identity_7\nnever\n");
  E2eResult r = RunTavrin({"-l", "-p", "-i", In(), "-o", Out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "[ParseFileList] Error : Invalid format for the DECLARE statement. Process aborted\n");
  EXPECT_TRUE(r.out.ends_with("\n\tParsing file :b.sql" + kParseAbort)) << r.out;
  EXPECT_EQ(Script(1), "SET VERIFY OFF\r\nDECLARE\r\n\tidentity_1 NUMBER;\r\nBEGIN\r\n\t--COLUMN identity_1 x\r\nEND;\r\n/\r\nEXIT");
  // The group that failed half-way leaves nothing: no script, no temporary file.
  EXPECT_EQ(Scripts(), std::vector<std::string>{"Output1.tvr"});
  auto logs = LogFiles(dir());
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_TRUE(logs.begin()->second.ends_with(
      "[ParseFileList]Parsing file b.sql\n"
      "[ParseFileList]Error :Invalid format for the DECLARE statement Process aborted\n" + kParseAbort));
}

TEST_F(ParseE2eTest, MissingOutputDirectoryCannotTakeAScript) {
  WriteFile(dir() / "in" / "a.sql", "x\n");
  const std::string missing = Path(dir() / "nowhere");
  E2eResult r = RunTavrin({"-p", "-i", In(), "-o", missing});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "\n[ParseFileList]Error: Unable to create output log file:" + missing + Sep() +
                       "Output0.tvr\n" + ReasonLine(r.err, "No such file or directory"));
  EXPECT_TRUE(r.out.ends_with("Grouping file:a.sql\tGroup :0\n" + kParseAbort));
}

TEST_F(ParseE2eTest, GroupRecordsTakeTheLatestAuthenticationRow) {
  WriteFile(dir() / "in" / "a.sql",
            "COLUMN identity_1 x\n"
            "INSERT INTO tbl_Authentications(u) VALUES ('first');\n"
            "INSERT INTO tbl_Authentications(u) VALUES ('second');\n"
            "INSERT INTO tbl_groups(g) VALUES (&identity_1);\n"
            "COLUMN identity_2 x\n"
            "INSERT INTO tbl_groups(g) VALUES (&identity_2);\n"
            "INSERT INTO tbl_groups(g) VALUES (&identity_2, 2);\n");
  E2eResult r = RunTavrin({"-p", "-i", In(), "-o", Out()});
  EXPECT_EQ(r.exit_code, 0);
  // identity_2's second group record finds it already starting with one.
  // Each block runs its rows in the order they were read.
  EXPECT_EQ(Script(1),
            "SET VERIFY OFF\r\n"
            "DECLARE\r\n\tidentity_1 NUMBER;\r\n"
            "BEGIN\r\n\t--COLUMN identity_1 x\r\n\tINSERT INTO tbl_Authentications(u) VALUES ('second');\r\n"
            "\tINSERT INTO tbl_groups(g) VALUES (identity_1);\r\nEND;\r\n/\r\n"
            "DECLARE\r\n\tidentity_2 NUMBER;\r\n"
            "BEGIN\r\n\tINSERT INTO tbl_Authentications(u) VALUES ('first');\r\n\t--COLUMN identity_2 x\r\n"
            "\tINSERT INTO tbl_groups(g) VALUES (identity_2);\r\n\tINSERT INTO tbl_groups(g) VALUES (identity_2, 2);\r\n"
            "END;\r\n/\r\nEXIT");
  EXPECT_EQ(r.out.find("Authentication entry missing"), std::string::npos);
}

TEST_F(ParseE2eTest, TiedIdentitiesShareOneBlockInTheLogsOrder) {
  // identity_2's transaction names identity_1, identity_3's action names
  // identity_1 again after it went into identity_2: all three end in one
  // block, every variable set before it is used. CR CR LF, a trailing blank
  // and a last line ending in a lone CR each leave one ";".
  WriteFile(dir() / "in" / "a.sql",
            "INSERT INTO tbl_Transactions(ID) VALUES (seq_T.NEXTVAL);\r\r\n"
            "COLUMN identity_1 NEW_VALUE identity_1\n"
            "SELECT seq_T.CURRVAL identity_1 FROM DUAL;\n"
            "INSERT INTO tbl_Transactions(ID, ParentId) VALUES (seq_T.NEXTVAL, &identity_1); \n"
            "COLUMN identity_2 NEW_VALUE identity_2\n"
            "SELECT seq_T.NEXTVAL identity_2 FROM DUAL;\n"
            "INSERT INTO tbl_Authentications(ID, TransactionID) VALUES (seq_A.NEXTVAL, &identity_2);\n"
            "COLUMN identity_3 NEW_VALUE identity_3\n"
            "SELECT seq_T.CURRVAL identity_3 FROM DUAL;\n"
            "INSERT INTO tbl_Authentications(ID) VALUES (seq_A.NEXTVAL);\n"
            "INSERT INTO tbl_groups(ID, TransactionID, AuthID) VALUES (seq_G.NEXTVAL, &identity_3, seq_A.CURRVAL);\n"
            "INSERT INTO tbl_Actions(ID, A, B) VALUES (seq_X.NEXTVAL, &identity_3, &identity_1);\r");
  // A login row of no identity in a group without plain rows still runs; one
  // naming an identity never declared is reported.
  WriteFile(dir() / "in" / "b.sql",
            "COLUMN identity_1 NEW_VALUE identity_1\n"
            "SELECT seq_T.CURRVAL identity_1 FROM DUAL;\n"
            "INSERT INTO tbl_Authentications(ID) VALUES (seq_A.NEXTVAL);\n"
            "INSERT INTO tbl_Authentications(ID, T) VALUES (seq_A.NEXTVAL, &identity_7);\n");
  E2eResult r = RunTavrin({"-l", "-p", "-i", In(), "-o", Out()});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(Script(1),
            "SET VERIFY OFF\r\n"
            "DECLARE\r\n\tidentity_1 NUMBER;\r\n\tidentity_2 NUMBER;\r\n\tidentity_3 NUMBER;\r\n"
            "BEGIN\r\n"
            "\tINSERT INTO tbl_Transactions(ID) VALUES (seq_T.NEXTVAL);\r\r\n"
            "\t--COLUMN identity_1 NEW_VALUE identity_1\r\n"
            "\tSELECT seq_T.CURRVAL into identity_1 FROM DUAL;\r\n"
            "\tINSERT INTO tbl_Transactions(ID, ParentId) VALUES (seq_T.NEXTVAL, identity_1); \r\n"
            "\t--COLUMN identity_2 NEW_VALUE identity_2\r\n"
            "\tSELECT seq_T.NEXTVAL into identity_2 FROM DUAL;\r\n"
            "\tINSERT INTO tbl_Authentications(ID, TransactionID) VALUES (seq_A.NEXTVAL, identity_2);\r\n"
            "\t--COLUMN identity_3 NEW_VALUE identity_3\r\n"
            "\tSELECT seq_T.CURRVAL into identity_3 FROM DUAL;\r\n"
            "\tINSERT INTO tbl_Authentications(ID) VALUES (seq_A.NEXTVAL);\r\n"
            "\tINSERT INTO tbl_groups(ID, TransactionID, AuthID) VALUES (seq_G.NEXTVAL, identity_3, seq_A.CURRVAL);\r\n"
            "\tINSERT INTO tbl_Actions(ID, A, B) VALUES (seq_X.NEXTVAL, identity_3, identity_1);\r\r\n"
            "END;\r\n/\r\nEXIT");
  EXPECT_EQ(Script(2),
            "SET VERIFY OFF\r\n"
            "DECLARE\r\n\tidentity_1 NUMBER;\r\nBEGIN\r\n"
            "\t--COLUMN identity_1 NEW_VALUE identity_1\r\n"
            "\tSELECT seq_T.CURRVAL into identity_1 FROM DUAL;\r\nEND;\r\n/\r\n"
            "BEGIN\r\n\tINSERT INTO tbl_Authentications(ID) VALUES (seq_A.NEXTVAL);\r\nEND;\r\n/\r\n"
            "EXIT");
  EXPECT_EQ(r.out.find("[MergeKeys]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\tDumping memory contents to a file[ParseFileList] Warning : Uanble to find "
                       "the identity key for identity identity_7 in the map. The entry has been "
                       "skipped.\n"),
            std::string::npos)
      << r.out;
  auto logs = LogFiles(dir());
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(logs.begin()->second.find(
                "\n[ParseFileList]Dumping memory contents to output file\n\n"
                "[ParseFileList]Warning : Unable to find identity key for identity identity_7 in map "
                "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\tThe entry has been skipped.\n"),
            std::string::npos);
}

#ifdef TAVRIN_BATCHGEN
// Over generated batches with COMMIT, ROLLBACK, EXECUTE IMMEDIATE and
// DBMS_SQL in all their forms, and lines that only look so: in both layouts
// a history script is marked exactly when a line it writes between its
// header and EXIT can commit.
TEST_F(ParseE2eTest, HistoryScriptsAreMarkedExactlyWhenALineTheyWriteCanCommit) {
  if (E2eTarget::Get().windows) GTEST_SKIP() << "the batch generator is a Linux program";
  const std::string header_end = std::string(kHistoryLines.back()) + "\r\n";
  int marked = 0, unmarked = 0;
  for (const std::string seed : {"1", "2", "3"}) {
    const fs::path batch = dir() / ("batch" + seed);
    ChildCommand generate;
    generate.argv = {TAVRIN_BATCHGEN, "--shape", "commits", "--size", "40K", "--seed", seed,
                     batch.string()};
    auto figures = Env::Default()->CreateOutput((dir() / "figures.txt").string());
    generate.stdout_file = figures.get();
    ChildExit generated;
    ASSERT_TRUE(Env::Default()->RunChild(generate, &generated) && generated.code == 0);
    for (const std::string layout : {"-pH", "-pHR"}) {
      fs::remove_all(dir() / "out");
      fs::create_directory(dir() / "out");
      ASSERT_EQ(RunTavrin({layout, "-i", Path(batch), "-o", Out()}).exit_code, 0);
      for (int group = 1; fs::exists(dir() / "out" / ("Output" + std::to_string(group) + ".tvr"));
           ++group) {
        const std::string script = Script(group);
        bool can_commit = false;
        std::size_t at = script.find(header_end) + header_end.size(), end;
        for (; (end = script.find("\r\n", at)) != std::string::npos; at = end + 2)
          can_commit = can_commit || LineCanCommit(std::string_view(script).substr(at, end - at));
        EXPECT_EQ(script.substr(at), "EXIT");
        EXPECT_EQ(script.starts_with("SET VERIFY OFF\r\n-- not atomic\r\n"), can_commit)
            << seed << " " << layout << " " << group;
        ++(can_commit ? marked : unmarked);
      }
    }
  }
  // Both kinds occur, or the check would prove little.
  EXPECT_GT(marked, 5);
  EXPECT_GT(unmarked, 5);
}
#endif

}  // namespace
}  // namespace tavrin::test

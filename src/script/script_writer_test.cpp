#include "script/script_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "script/script_test_support.h"

namespace tavrin {
namespace {

using test::Fill;
using test::FillAt;

// Keeps what the writer sends to its file.
class MemoryFile : public OutputFile {
 public:
  explicit MemoryFile(std::string* bytes, bool fail = false) : bytes_(bytes), fail_(fail) {}
  bool Append(std::string_view data) override {
    if (fail_) return false;
    bytes_->append(data);
    return true;
  }
  bool Close() override { return !fail_; }
  bool Sync() override { return !fail_; }

 private:
  std::string* bytes_;
  bool fail_;
};

class WriterTest : public ::testing::Test {
 protected:
  // Writes the script of `state` and returns its bytes.
  std::string Write() {
    std::string bytes;
    ScriptSink sink(std::make_unique<MemoryFile>(&bytes));
    WriteScript(state, captured.diag, sink);
    EXPECT_TRUE(sink.Close());
    return bytes;
  }

  GroupState state;
  test::CapturedDiagnostics captured;
};

TEST_F(WriterTest, WorkedExample) {
  Fill(state, {{"others_-2", {"S1;"}},
               {"identity_4", {"COLUMN identity_4 NEW_VALUE identity_4", "S3 identity_4;", "S4 identity_4;"}}});
  EXPECT_EQ(Write(),
            "SET VERIFY OFF\r\n"
            "BEGIN\r\n"
            "\tS1;\r\n"
            "END;\r\n"
            "/\r\n"
            "DECLARE\r\n"
            "\tidentity_4 NUMBER;\r\n"
            "BEGIN\r\n"
            "\t--COLUMN identity_4 NEW_VALUE identity_4\r\n"
            "\tS3 identity_4;\r\n"
            "\tS4 identity_4;\r\n"
            "END;\r\n"
            "/\r\n"
            "EXIT");
  EXPECT_EQ(captured.out.str(), "\n\n\tDumping memory contents to a file");
  EXPECT_EQ(state.store.size(), 0u);
}

TEST_F(WriterTest, DeclarationsAreDistinctFirstNamesInByteOrder) {
  Fill(state, {{"identity_2", {"a identity_2 identity_7", "b identity_10", "c identity_2", "d"}}});
  EXPECT_EQ(Write(),
            "SET VERIFY OFF\r\nDECLARE\r\n\tidentity_10 NUMBER;\r\n\tidentity_2 NUMBER;\r\n"
            "BEGIN\r\n\ta identity_2 identity_7\r\n\tb identity_10\r\n\tc identity_2\r\n\td\r\n"
            "END;\r\n/\r\nEXIT");
}

TEST_F(WriterTest, AuthenticationRowsGoToTheirIdentitiesOrStartThePlainBlock) {
  // identity_3 takes its row; the row of no identity starts "others_-2",
  // which did not exist; the row of an identity never declared is reported.
  Fill(state, {{"Authentications_-1", {"tbl_Authentications(identity_3)", "tbl_Authentications(x)",
                                       "tbl_Authentications(identity_8)"}},
               {"identity_3", {"c3"}}});
  EXPECT_EQ(Write(),
            "SET VERIFY OFF\r\nDECLARE\r\n\tidentity_3 NUMBER;\r\n"
            "BEGIN\r\n\ttbl_Authentications(identity_3)\r\n\tc3\r\nEND;\r\n/\r\n"
            "BEGIN\r\n\ttbl_Authentications(x)\r\nEND;\r\n/\r\nEXIT");
  EXPECT_EQ(captured.out.str(),
            "\n\n\tDumping memory contents to a file"
            "[ParseFileList] Warning : Uanble to find the identity key for identity identity_8 in the "
            "map. The entry has been skipped.\n");
}

TEST_F(WriterTest, MadePlainBlockTakesItsPlaceAfterAnEntryInItsBucket) {
  // identity_999998 shares bucket 0 with "others_-2"; made later, "others_-2"
  // follows it in the walk, which the merge pass and joins see.
  FillAt(state, {{"Authentications_-1", {{"tbl_Authentications(x)", 5}}},
               {"identity_999998", {{"SELECT s.CURRVAL into identity_999998 FROM DUAL;", 1}}}});
  DistributeAuthentications(state, captured.diag);
  EXPECT_EQ(test::Contents(state),
            (test::Entries{{"identity_999998", {"SELECT s.CURRVAL into identity_999998 FROM DUAL;"}},
                           {"others_-2", {"tbl_Authentications(x)"}}}));
}

TEST_F(WriterTest, StatementsRunInReadOrderAndBlocksByTheirFirstStatement) {
  // The transaction row and the login row were moved to the front of their
  // identities while reading; the UPDATE was read before identity_2's rows.
  FillAt(state, {{"others_-2", {{"UPDATE t SET a = 1;", 4}, {"UPDATE t SET a = 2;", 9}}},
               {"identity_1", {{"tbl_Authentications(login)", 3}, {"tbl_Transactions(t1)", 0},
                               {"COLUMN identity_1", 1}, {"SELECT s.CURRVAL into identity_1;", 2}}},
               {"identity_2", {{"tbl_Transactions(t2)", 5}, {"SELECT s.CURRVAL into identity_2;", 6}}},
               {"identity_3", {}}});
  EXPECT_EQ(Write(),
            "SET VERIFY OFF\r\n"
            "DECLARE\r\n\tidentity_1 NUMBER;\r\nBEGIN\r\n"
            "\ttbl_Transactions(t1)\r\n\t--COLUMN identity_1\r\n\tSELECT s.CURRVAL into identity_1;\r\n"
            "\ttbl_Authentications(login)\r\nEND;\r\n/\r\n"
            "BEGIN\r\n\tUPDATE t SET a = 1;\r\n\tUPDATE t SET a = 2;\r\nEND;\r\n/\r\n"
            "DECLARE\r\n\tidentity_2 NUMBER;\r\nBEGIN\r\n"
            "\ttbl_Transactions(t2)\r\n\tSELECT s.CURRVAL into identity_2;\r\nEND;\r\n/\r\n"
            "EXIT");
}

TEST_F(WriterTest, TiedIdentitiesAreSetBeforeTheRowThatTiesThem) {
  // identity_2's action names identity_1: the merge appends identity_1's rows
  // after it, and read order puts them back in front.
  FillAt(state, {{"identity_1", {{"SELECT s.CURRVAL into identity_1 FROM DUAL;", 0}}},
               {"identity_2", {{"SELECT s.CURRVAL into identity_2 FROM DUAL;", 1},
                               {"INSERT INTO tbl_Actions(a,b) VALUES (identity_2, identity_1);", 2}}}});
  EXPECT_EQ(Write(),
            "SET VERIFY OFF\r\nDECLARE\r\n\tidentity_1 NUMBER;\r\n\tidentity_2 NUMBER;\r\nBEGIN\r\n"
            "\tSELECT s.CURRVAL into identity_1 FROM DUAL;\r\n"
            "\tSELECT s.CURRVAL into identity_2 FROM DUAL;\r\n"
            "\tINSERT INTO tbl_Actions(a,b) VALUES (identity_2, identity_1);\r\nEND;\r\n/\r\nEXIT");
}

TEST_F(WriterTest, EmptyDeclareAndEmptyBlockLinesAreTakenBack) {
  Fill(state, {{"others_-2", {"DECLARE", "BEGIN", "END;", "skipped 1", "skipped 2", "kept", "END;"}}});
  EXPECT_EQ(Write(), "SET VERIFY OFF\r\nBEGIN\r\n\tkept\r\n\tEND;\r\nEND;\r\n/\r\nEXIT");
}

TEST_F(WriterTest, StatementsThatOnlyContainTheWordsAreWrittenAsTheyAre) {
  // Only a statement that is exactly DECLARE or BEGIN, with its line the last
  // one written, lets the next statement take it back.
  Fill(state, {{"others_-2", {"DECLARE x NUMBER;", "BEGIN NULL; END;", "BEGIN", "END IF;", "a", "b",
                              "BEGIN;", "END;"}}});
  EXPECT_EQ(Write(),
            "SET VERIFY OFF\r\nBEGIN\r\n\tDECLARE x NUMBER;\r\n\tBEGIN NULL; END;\r\n"
            "\tBEGIN;\r\n\tEND;\r\nEND;\r\n/\r\nEXIT");
}

TEST(WriterHistory, LinesThatCanCommitPartOfTheScript) {
  const struct {
    const char* line;
    bool can_commit;
  } cases[] = {
      {"\t/* checkpoint */ COMMIT;", true},  // comments are not told apart
      {"\tUPDATE t SET a=1; commit;", true},
      {"\tBEGIN COMMIT; END;", true},
      {"\tCOMMITTED; X_COMMIT; COMMIT$; #ROLLBACK; ROLLBACK2", false},  // other words
      {"\tVALUES ('COMMIT', 'it''s COMMIT', 'x''')", false},  // doubled quotes stay inside
      {"\tVALUES ('x''', COMMIT)", true},
      {"\tVALUES ('a', 'COMMIT", true},  // a quote nothing closes opens no text
      {"\tVALUES ('''''COMMIT", true},
      {"\tx := q'[it's COMMIT]';", true},  // a q-text's words count
      {"\tx := Q'<a>b'>' || ' ROLLBACK';", false},
      {"\tx := q'!COMMIT!' || q'{'}' || 'z';", true},
      {"\tx := q'xCOMMITx';", true},
      {"\tx := q'[ COMMIT", true},      // never closed
      {"\tx := nq'[COMMIT]';", false},  // q after a word character: a plain text
      {"\tx := 'execute \t immediate';", true},  // these count anywhere
      {"\tEXECUTEIMMEDIATE; EXECUTE proc; IMMEDIATE; DBMS_OUTPUT.PUT_LINE('x');", false},
      {"\tn := Dbms_Sql.Open_Cursor;", true},
      {"\tDBMS_TRANSACTION.READ_ONLY;", true},
      {"\tINSERT INTO t(a) VALUES ('exec_ddl_statement');", true},
  };
  for (const auto& c : cases) EXPECT_EQ(LineCanCommit(c.line), c.can_commit) << c.line;
}

TEST(WriterHistory, MarkIsDecidedOnTheLinesWrittenInBothLayouts) {
  const std::string login = "INSERT INTO tbl_Authentications(UserId,Host) VALUES ";
  const struct {
    const char* name;
    test::PositionedEntries entries;
    bool marked;
  } cases[] = {
      {"in a text", {{"others_-2", {{"UPDATE t SET a = 'COMMIT';", 0}}}}, false},
      {"not first", {{"others_-2", {{"UPDATE t SET a=1; COMMIT;", 0}}}}, true},
      {"--COLUMN line", {{"identity_1", {{"COLUMN identity_1 NEW_VALUE identity_1 ROLLBACK", 0}}}},
       true},
      // The login row joins the plain rows at their end; read in order, the
      // block writes COMMIT.
      {"login inside a block",
       {{"others_-2", {{"BEGIN", 0}, {"END;", 2}, {"COMMIT;", 3}}},
        {"Authentications_-1", {{login + "('x','h');", 1}}}},
       true},
      // BEGIN, then a row holding END: that row and the two after it are
      // not written, COMMIT; among them.
      {"block taken back",
       {{"others_-2", {{"BEGIN", 0}, {"COMMIT;", 2}, {"x;", 3}}},
        {"Authentications_-1", {{login + "('END','h');", 1}}}},
       false},
  };
  for (const auto& c : cases) {
    for (const ScriptLayout layout : {ScriptLayout::kBlocks, ScriptLayout::kReadOrder}) {
      GroupState state;
      test::FillAt(state, c.entries);
      std::string bytes;
      ScriptSink sink(std::make_unique<MemoryFile>(&bytes));
      test::CapturedDiagnostics captured;
      WriteScript(state, captured.diag, sink, layout, /*history=*/true);
      ASSERT_TRUE(sink.Close());
      EXPECT_EQ(bytes.starts_with("SET VERIFY OFF\r\n-- not atomic\r\n"), c.marked)
          << c.name << (layout == ScriptLayout::kBlocks ? "" : " -R") << "\n" << bytes;
    }
  }
}

// The headers of -A and -A -H, whole, in both layouts, marked or not.
TEST(WriterAtomic, HeadersInBothLayouts) {
  const std::string atomic =
      "SET AUTOCOMMIT OFF\r\nSET EXITCOMMIT ON\r\n"
      "WHENEVER OSERROR EXIT FAILURE ROLLBACK\r\nWHENEVER SQLERROR EXIT FAILURE ROLLBACK\r\n";
  const std::string atomic_history =
      "SET AUTOCOMMIT OFF\r\nSET EXITCOMMIT ON\r\nSET DEFINE ON\r\n"
      "WHENEVER OSERROR EXIT FAILURE ROLLBACK\r\nWHENEVER SQLERROR EXIT FAILURE ROLLBACK\r\n"
      "INSERT INTO TAVRIN_IMPORTS(IMPORT_ID, SCRIPT_NAME) VALUES ('&1', '&2');\r\n";
  const std::string blocks = "BEGIN\r\n\tUPDATE t SET a=1;\r\n\tx;\r\nEND;\r\n/\r\nEXIT";
  for (const bool history : {false, true}) {
    for (const bool marked : {false, true}) {
      for (const ScriptLayout layout : {ScriptLayout::kBlocks, ScriptLayout::kReadOrder}) {
        GroupState state;
        test::FillAt(state, {{"others_-2", {{"UPDATE t SET a=1;", 0}, {marked ? "COMMIT;" : "x;", 1}}}});
        std::string bytes;
        ScriptSink sink(std::make_unique<MemoryFile>(&bytes));
        test::CapturedDiagnostics captured;
        WriteScript(state, captured.diag, sink, layout, history, /*atomic=*/true);
        ASSERT_TRUE(sink.Close());
        std::string body = blocks;
        if (marked) body.replace(body.find("x;"), 2, "COMMIT;");
        EXPECT_EQ(bytes, "SET VERIFY OFF\r\n" + std::string(marked ? "-- not atomic\r\n" : "") +
                             (history ? atomic_history : atomic) + body)
            << history << marked << (layout == ScriptLayout::kBlocks ? "" : " -R");
      }
    }
  }
}

// The walk cut into ascending runs, blocks tying across runs: merged when
// the runs are few, sorted when they are many, the same order either way.
TEST(WriterOrder, BlocksFollowTheirFirstStatementsAndTiesTheWalk) {
  for (const int runs : {3, 20}) {
    GroupState state;
    const int length = 4;
    std::vector<std::uint64_t> first;  // by walk position
    for (int i = 0; i < runs * length; ++i) {
      const int run = i / length;
      first.push_back(static_cast<std::uint64_t>((i % length) * 10 + run % 2));
      test::FillAt(state, {{"identity_" + std::to_string(i),
                            {{"-- block " + std::to_string(i) + ";", first.back()}}}});
    }
    std::vector<int> expected(first.size());
    std::iota(expected.begin(), expected.end(), 0);
    std::stable_sort(expected.begin(), expected.end(),
                     [&](int a, int b) { return first[a] < first[b]; });

    std::string bytes;
    ScriptSink sink(std::make_unique<MemoryFile>(&bytes));
    test::CapturedDiagnostics captured;
    WriteScript(state, captured.diag, sink);
    ASSERT_TRUE(sink.Close());
    std::vector<int> written;
    for (std::size_t at = 0; (at = bytes.find("-- block ", at)) != std::string::npos; at += 9)
      written.push_back(std::stoi(bytes.substr(at + 9)));
    EXPECT_EQ(written, expected) << runs << " runs";
  }
}

// One sink serves a run's scripts in turn: a failed or abandoned script
// leaves nothing behind in the next one.
TEST(ScriptSink, ReportsAFailedWriteAndStartsEachScriptAfresh) {
  std::string failed, abandoned, written;
  ScriptSink sink(std::make_unique<MemoryFile>(&failed, /*fail=*/true));
  sink.Line("SET VERIFY OFF");
  EXPECT_FALSE(sink.Close());
  EXPECT_FALSE(sink.is_open());

  sink.Open(std::make_unique<MemoryFile>(&abandoned));
  sink.Line("BEGIN");
  sink.Abandon();

  sink.Open(std::make_unique<MemoryFile>(&written));
  sink.Line("a", "b", "c");
  sink.Text("EXIT");
  EXPECT_TRUE(sink.Close());
  EXPECT_EQ(abandoned, "");
  EXPECT_EQ(written, "abc\r\nEXIT");
}

}  // namespace
}  // namespace tavrin

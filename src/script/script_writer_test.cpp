#include "script/script_writer.h"

#include <gtest/gtest.h>

#include "script/script_test_support.h"

namespace tavrin {
namespace {

using test::Fill;

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
  Fill(state, {{"identity_4", {"COLUMN identity_4 NEW_VALUE identity_4", "S3 identity_4;", "S4 identity_4;"}},
               {"others_-2", {"S1;"}}});
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

TEST_F(WriterTest, AuthenticationRowsGoToTheirIdentitiesBeforeMerging) {
  Fill(state, {{"Authentications_-1", {"tbl_Authentications(identity_3)", "tbl_Authentications(x)",
                                       "tbl_Authentications(identity_8)"}},
               {"identity_3", {"c3"}}});
  EXPECT_EQ(Write(),
            "SET VERIFY OFF\r\nDECLARE\r\n\tidentity_3 NUMBER;\r\n"
            "BEGIN\r\n\tc3\r\n\ttbl_Authentications(identity_3)\r\nEND;\r\n/\r\nEXIT");
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

TEST(ScriptSink, ReportsAFailedWrite) {
  std::string bytes;
  ScriptSink sink(std::make_unique<MemoryFile>(&bytes, /*fail=*/true));
  sink.Line("SET VERIFY OFF");
  EXPECT_FALSE(sink.Close());
}

}  // namespace
}  // namespace tavrin

#include "script/read_order_script.h"

#include <gtest/gtest.h>

#include "script/script_test_support.h"
#include "script/script_writer.h"

namespace tavrin {
namespace {

using test::Fill;
using test::FillAt;

std::string Write(GroupState& state, ScriptLayout layout, std::string* messages = nullptr) {
  std::string bytes;
  ScriptSink sink(std::make_unique<test::StringFile>(&bytes));
  test::CapturedDiagnostics captured;
  WriteScript(state, captured.diag, sink, layout);
  EXPECT_TRUE(sink.Close());
  EXPECT_EQ(state.store.size(), 0u);
  if (messages) *messages = captured.out.str();
  return bytes;
}

// The statement lines of a script (tab-indented, declarations aside), sorted.
std::vector<std::string> StatementLines(const std::string& script) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < script.size();) {
    std::size_t end = script.find("\r\n", at);
    if (end == std::string::npos) end = script.size();
    const std::string line = script.substr(at, end - at);
    if (line.starts_with("\t") && !line.ends_with(" NUMBER;")) lines.push_back(line);
    at = end + 2;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(ReadOrderScript, OneBlockInTheLogsOrder) {
  // The plain UPDATE read between the two transactions runs there; identity_3
  // starts the default layout's first block, so its name is declared first.
  GroupState state;
  FillAt(state, {{"others_-2", {{"UPDATE t SET k = 'SEEN' WHERE k = 'UPD';", 4}}},
                 {"identity_2", {{"COLUMN identity_2 NEW_VALUE identity_2", 5},
                                 {"SELECT s.NEXTVAL into identity_2 FROM DUAL;", 6},
                                 {"INSERT INTO t(a) VALUES (identity_2);", 7}}},
                 {"identity_3", {{"COLUMN identity_3 NEW_VALUE identity_3", 0},
                                 {"SELECT s.NEXTVAL into identity_3 FROM DUAL;", 1},
                                 {"INSERT INTO t(a) VALUES (identity_3);", 8},
                                 {"INSERT INTO t(a) VALUES (identity_3, 2);", 3}}}});
  std::string messages;
  EXPECT_EQ(Write(state, ScriptLayout::kReadOrder, &messages),
            "SET VERIFY OFF\r\n"
            "DECLARE\r\n\tidentity_3 NUMBER;\r\n\tidentity_2 NUMBER;\r\n"
            "BEGIN\r\n"
            "\t--COLUMN identity_3 NEW_VALUE identity_3\r\n"
            "\tSELECT s.NEXTVAL into identity_3 FROM DUAL;\r\n"
            "\tINSERT INTO t(a) VALUES (identity_3, 2);\r\n"
            "\tUPDATE t SET k = 'SEEN' WHERE k = 'UPD';\r\n"
            "\t--COLUMN identity_2 NEW_VALUE identity_2\r\n"
            "\tSELECT s.NEXTVAL into identity_2 FROM DUAL;\r\n"
            "\tINSERT INTO t(a) VALUES (identity_2);\r\n"
            "\tINSERT INTO t(a) VALUES (identity_3);\r\n"
            "END;\r\n/\r\nEXIT");
  EXPECT_EQ(messages, "\n\n\tDumping memory contents to a file");
}

TEST(ReadOrderScript, WritesTheLinesOfTheDefaultLayoutEachOnce) {
  // The rules that take back a DECLARE or a BEGIN line work within each
  // default block, and the moves and merges still decide those blocks.
  const test::Entries stores[] = {
      {{"others_-2", {"DECLARE", "BEGIN", "END;", "skipped 1", "skipped 2", "kept", "END;"}},
       {"identity_1", {"COLUMN identity_1 x", "BEGIN", "a identity_1", "DECLARE", "BEGIN x"}}},
      {{"others_-2", {"BEGIN", "UPDATE d SET a = s.CURRVAL;", "END"}},
       {"identity_1", {"SELECT s.NEXTVAL into identity_1 FROM DUAL;", "END"}},
       {"identity_2", {"INSERT INTO tbl_Transactions(a) VALUES (identity_1);", "x identity_2"}},
       {"Authentications_-1", {"tbl_Authentications(identity_2)", "tbl_Authentications(identity_9)"}}},
  };
  for (const test::Entries& store : stores) {
    GroupState blocks, one;
    Fill(blocks, store);
    Fill(one, store);
    std::string block_messages, one_messages;
    const std::string by_blocks = Write(blocks, ScriptLayout::kBlocks, &block_messages);
    const std::string in_one = Write(one, ScriptLayout::kReadOrder, &one_messages);
    EXPECT_EQ(StatementLines(in_one), StatementLines(by_blocks)) << in_one;
    EXPECT_EQ(one_messages, block_messages);
  }
}

TEST(ReadOrderScript, NamesAreDeclaredOnceAndNothingIsWrittenForEmptyEntries) {
  GroupState state;
  FillAt(state, {{"others_-2", {{"INSERT INTO t(a) VALUES (identity_4);", 0}}},
                 {"identity_2", {{"a identity_2", 1}, {"b identity_10", 2}}},
                 {"identity_3", {}}});
  EXPECT_EQ(Write(state, ScriptLayout::kReadOrder),
            "SET VERIFY OFF\r\nDECLARE\r\n\tidentity_4 NUMBER;\r\n\tidentity_10 NUMBER;\r\n\tidentity_2 NUMBER;\r\n"
            "BEGIN\r\n\tINSERT INTO t(a) VALUES (identity_4);\r\n\ta identity_2\r\n\tb identity_10\r\n"
            "END;\r\n/\r\nEXIT");

  GroupState empty;
  FillAt(empty, {{"others_-2", {}}});
  EXPECT_EQ(Write(empty, ScriptLayout::kReadOrder), "SET VERIFY OFF\r\nEXIT");
}

}  // namespace
}  // namespace tavrin

// Grouping end to end: its failures and the discarded last group.

#include "e2e/harness.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

using GroupingE2eTest = E2eTest;

const std::string kGroupAbort =
    "\n\n[Tavrin]Error: Unable to group SQL input file. Process will be aborted\n";

TEST_F(GroupingE2eTest, NoInputFilesFailsTheRun) {
  fs::create_directory(dir() / "in");
  WriteFile(dir() / "in" / "notes.txt", "x\n");
  const std::string in = Path(dir() / "in");
  E2eResult r = RunTavrin({"-l", "-p", "-i", in, "-o", Path(dir())});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Banner() + kGroupAbort);
  EXPECT_EQ(r.err, "[GroupFileList]Error: Unable to find target sql files in " + in +
                       " directory.\n");
  auto logs = LogFiles(dir());
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs.begin()->second,
            "[GroupFileList] Searching for input SQL files in the directory " + in + "\n" +
                "[GroupFileList] Error: Unable to find target sql files in " + in +
                " directory.\n" + kGroupAbort);
}

TEST_F(GroupingE2eTest, MatchingSubDirectoryCannotBeOpened) {
  WriteFile(dir() / "in" / "a.sql", "COLUMN identity_1 x\n");
  fs::create_directory(dir() / "in" / "x.SQL");
  const std::string in = Path(dir() / "in");
  E2eResult r = RunTavrin({"-p", "-i", in, "-o", Path(dir())});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Banner() + "\nGrouping Started\nGrouping file:a.sql\tGroup :1\n" + kGroupAbort);
  EXPECT_EQ(r.err, "Error: Unable to open file " + in + Sep() + "x.SQL\n" +
                       ReasonLine(r.err, "Is a directory"));
}

TEST_F(GroupingE2eTest, DiscardingTheOnlyGroupLeavesNothingToDo) {
  WriteFile(dir() / "in" / "a.sql", "COLUMN identity_1 x\n");
  WriteFile(dir() / "in" / "b.sql", "no declaration here");
  const std::string in = Path(dir() / "in");
  E2eResult r = RunTavrin({"-l", "-p", "-D", "-", "-i", in, "-o", Path(dir() / "out")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(MaskElapsed(r.out),
            Banner() +
                "\nGrouping Started\n"
                "Grouping file:a.sql\tGroup :1\n"
                "Grouping file:b.sql\tGroup :1\n"
                "\n\nDiscard group option was turned on due to detection of a possible "
                "lingering transaction. \nDiscarding Group Number:1\n\n"
                "\nTime elapsed :N secs\n");
  EXPECT_EQ(r.err, "");
  auto logs = LogFiles(dir());
  ASSERT_EQ(logs.size(), 1u);
  const std::string& log = logs.begin()->second;
  EXPECT_NE(log.find("\t[GroupFileList] Found File : a.sql\n\t[GroupFileList] Found File : b.sql\n"),
            std::string::npos);
  EXPECT_NE(log.find("\t[GroupFileList] Grouping File :" + in + Sep() + "a.sql\t[GroupFileList] Group:1\n"),
            std::string::npos);
  EXPECT_NE(log.find("[GroupFileList]************Grouping Ends******************\n"
                     "\n\nDiscard group option was turned on due to detection of a possible "
                     "lingering transaction.\n Discarding Group Number: 1\n\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tavrin::test

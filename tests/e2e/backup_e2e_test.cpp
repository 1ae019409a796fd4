// The backup stage end to end: a whole -p -I -m run, and what it refuses.

#include <algorithm>

#include "e2e/import_texts.h"
#include "e2e/stand_in.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

const std::string kMarker = "[stand-in sqlplus] standard error\n";
const std::string kGrouping =
    "\nGrouping Started\n"
    "Grouping file:a.sql\tGroup :1\n"
    "Grouping file:b.sql\tGroup :1\n"
    "Grouping file:c.sql\tGroup :2\n";

// The reason at the end of a move's refusal, as the system words it.
std::string ReasonIn(const std::string& err) {
  const std::size_t at = err.find(".sql: ");
  return at == std::string::npos ? "" : err.substr(at + 6, err.find('\n', at) - at - 6);
}

std::string Importing(const std::string& name) {
  return "\n\nImporting data from file == " + name + "== to SQL*PLUS started ...\n";
}

class BatchTest : public BatchFoldersTest {
 protected:
  // The example batch in the inputs' folder: the backup goes to the working
  // directory, not beside the inputs.
  void SetUp() override {
    BatchFoldersTest::SetUp();
    for (const char* name : {"a.sql", "b.sql", "c.sql"})
      fs::copy_file(fs::path(TAVRIN_EXAMPLES) / "batch" / name, in_ / name);
  }

  E2eResult RunBatch(std::vector<std::string> switches, EnvVars env = {}) {
    switches.insert(switches.end(), {"-i", Path(in_), "-o", Path(out_), "-U", "scott", "-P",
                                     "tiger", "-S", "orcl"});
    return RunTavrin(switches, work_, WithStandIn(std::move(env)));
  }

  static std::string Moved(const std::string& name, const std::string& backup) {
    return "\tMoved File :" + name + " to " + backup + Sep() + "\n";
  }

};

TEST_F(BatchTest, FullRunMovesInputsScriptsAndOutputLogs) {
  E2eResult r = RunBatch({"-l", "-p", "-I", "-m"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, kMarker + kMarker);

  const auto backups = BackupDirectories(work_);
  ASSERT_EQ(backups.size(), 1u);
  const std::string& backup = backups[0];
  const fs::path moved_to = work_ / backup;
  const auto logs = OutputLogs(moved_to);
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(Entries(moved_to),
            (std::vector<std::string>{"Output1.tvr", "Output2.tvr", "a.sql", "b.sql", "c.sql",
                                      logs[0].first, logs[1].first}));
  EXPECT_TRUE(Entries(in_).empty());
  // Only the import journal stays, with nothing left waiting in it.
  EXPECT_EQ(Entries(out_), std::vector<std::string>{kJournalName});
  EXPECT_EQ(ReadFile(out_ / kJournalName), "");
  // The lock file stays where it is, empty, for the next run.
  EXPECT_TRUE(fs::exists(out_ / "tavrin.lock"));
  EXPECT_EQ(ReadFile(out_ / "tavrin.lock"), "");
  // The scripts arrive unchanged, and each output log holds its own script's run.
  const fs::path golden = fs::path(TAVRIN_SOURCE_DIR) / "tests" / "e2e" / "golden" / "examples";
  for (int i = 0; i < 2; ++i) {
    const std::string script = "Output" + std::to_string(i + 1) + ".tvr";
    EXPECT_EQ(ReadFile(moved_to / script), ReadFile(golden / script));
    EXPECT_EQ(logs[i].second,
              StandInOutput("scott@orcl", out_ / script, ReadFile(golden / script)));
  }

  std::string moves;
  for (const char* name : {"a.sql", "b.sql", "c.sql"}) moves += Moved(name, backup);
  moves += Moved("Output1.tvr", backup) + Moved("Output2.tvr", backup) +
           Moved(logs[0].first, backup) + Moved(logs[1].first, backup);
  const std::string out = MaskElapsed(r.out);
  EXPECT_TRUE(out.starts_with(Banner() + kGrouping)) << out;
  EXPECT_TRUE(out.ends_with(
      "\tDumping memory contents to a file" + Importing("Output1.tvr") + Importing("Output2.tvr") +
      "\n\nMoving processed files to backup directory " + backup +
      "\n\n Moving INPUT SQL Files...\n" + moves + "\nTime elapsed :N secs\n"))
      << out;
  EXPECT_TRUE(OnlyLog(work_).ends_with("\nMoving INPUT SQL files...\n" + moves)) << OnlyLog(work_);
}

TEST_F(BatchTest, FileThatCannotBeMovedIsReportedAndTheRestAreMoved) {
  // The stand-in removes b.sql while it runs, as another process might.
  E2eResult r =
      RunBatch({"-l", "-p", "-I", "-m"}, {{"TAVRIN_STAND_IN_REMOVE", Path(in_ / "b.sql")}});
  EXPECT_EQ(r.exit_code, 0);
  // The file's own path and the system's reason, whose wording is the system's.
  const std::string refusal =
      "\n[EnumerateAndMoveFiles] Error: Unable to move file " + Path(in_ / "b.sql") + ": " +
      (E2eTarget::Get().windows ? ReasonIn(r.err) : "No such file or directory") + "\n";
  EXPECT_EQ(r.err, kMarker + kMarker + refusal);
  EXPECT_FALSE(ReasonIn(r.err).empty());
  const auto backups = BackupDirectories(work_);
  ASSERT_EQ(backups.size(), 1u);
  const auto moved = Entries(work_ / backups[0]);
  EXPECT_EQ(moved.size(), 6u);
  EXPECT_EQ(std::count(moved.begin(), moved.end(), "b.sql"), 0);
  EXPECT_EQ(Entries(out_), std::vector<std::string>{kJournalName});
  EXPECT_NE(r.out.find(Moved("a.sql", backups[0]) + Moved("c.sql", backups[0])), std::string::npos);
  EXPECT_NE(OnlyLog(work_).find(refusal), std::string::npos);
}

TEST_F(BatchTest, MovesAcrossFileSystems) {
  // Inputs and outputs on a tmpfs, the working directory (and so the backup)
  // in the build tree.
  const fs::path build = fs::path(TAVRIN_STAND_IN_DIR).parent_path();
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no second file system: /dev/shm is missing";
  TempDir far("/dev/shm");
  TempDir near(build);
  WriteFile(far.path() / "probe", "");
  std::error_code crossing;
  fs::rename(far.path() / "probe", near.path() / "probe", crossing);
  if (crossing != std::errc::cross_device_link)
    GTEST_SKIP() << "no second file system: /dev/shm and " << build << " are one";
  fs::remove(near.path() / "probe");
  fs::copy(in_, far.path() / "in");
  fs::create_directory(far.path() / "out");

  E2eResult r = RunTavrin({"-p", "-I", "-m", "-i", Path(far.path() / "in"), "-o",
                           Path(far.path() / "out"), "-U", "scott", "-P", "tiger", "-S", "orcl"},
                          near.path(), WithStandIn());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, kMarker + kMarker);
  const auto backups = BackupDirectories(near.path());
  ASSERT_EQ(backups.size(), 1u);
  const fs::path moved_to = near.path() / backups[0];
  const auto logs = OutputLogs(moved_to);
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(Entries(moved_to),
            (std::vector<std::string>{"Output1.tvr", "Output2.tvr", "a.sql", "b.sql", "c.sql",
                                      logs[0].first, logs[1].first}));
  EXPECT_TRUE(Entries(far.path() / "in").empty());
  EXPECT_EQ(Entries(far.path() / "out"), std::vector<std::string>{kJournalName});
  for (const char* name : {"a.sql", "b.sql", "c.sql"})
    EXPECT_EQ(ReadFile(moved_to / name), ReadFile(fs::path(TAVRIN_EXAMPLES) / "batch" / name));
  const fs::path golden = fs::path(TAVRIN_SOURCE_DIR) / "tests" / "e2e" / "golden" / "examples";
  EXPECT_EQ(ReadFile(moved_to / "Output2.tvr"), ReadFile(golden / "Output2.tvr"));
}

// An output directory that simply holds no output log (-p -m) is no error.
TEST_F(BatchTest, NoOutputLogToMoveIsNoError) {
  E2eResult r = RunBatch({"-l", "-p", "-m"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  const auto backups = BackupDirectories(work_);
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(Entries(work_ / backups[0]),
            (std::vector<std::string>{"Output1.tvr", "Output2.tvr", "a.sql", "b.sql", "c.sql"}));
  EXPECT_EQ(OnlyLog(work_).find("Unable to find *.olog"), std::string::npos);
}

TEST_F(BatchTest, WithoutParsingNothingIsMoved) {
  WriteFile(out_ / "Output1.tvr", "-- one\nEXIT\n");
  WriteFile(out_ / "Output2.tvr", "-- two\nEXIT\n");
  E2eResult r = RunBatch({"-l", "-I", "-m"});
  EXPECT_EQ(r.exit_code, 0);
  const std::string warning =
      "\n[MoveProcessedFiles] Warning: File list found empty. No files moved.\n";
  EXPECT_EQ(MaskElapsed(r.out), Banner() + Importing("Output1.tvr") + Importing("Output2.tvr") +
                                    warning + "\nTime elapsed :N secs\n");
  EXPECT_TRUE(BackupDirectories(work_).empty());
  EXPECT_EQ(Entries(in_).size(), 3u);
  EXPECT_EQ(Entries(out_).size(), 5u);  // both scripts, their output logs and the journal
  EXPECT_TRUE(OnlyLog(work_).ends_with(warning));
}

}  // namespace
}  // namespace tavrin::test

// The backup stage in-process, where the clock and the backup directory's
// contents can be pinned down.

#include "import/move_processed_files.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "grouping/group_file_list.h"
#include "import/backup_record.h"
#include "import/group_tags.h"
#include "import/import_journal.h"
#include "import/sha256.h"
#include "platform/path.h"
#include "support/env_wrapper.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr const char* kBackup = "Processed_2026-01-02_03-04-05";

// A clock stuck in one second; optionally puts a file into the backup
// directory as soon as it is made, or refuses to make any directory.
class PinnedEnv : public test::EnvWrapper {
 public:
  PinnedEnv() : EnvWrapper(Env::Default()) {}
  DateTime UtcNow() override { return {2026, 1, 2, 3, 4, 5}; }
  bool MakeDirectory(const std::string& path, bool* exists) override {
    made.push_back(path);
    if (refuse_directories) {
      *exists = false;
      return Fail(refuse_directories);
    }
    if (!EnvWrapper::MakeDirectory(path, exists)) return false;
    if (!squatter.empty()) WriteFile(fs::path(path) / squatter, "already there");
    return true;
  }
  bool MoveNoReplace(const std::string& from, const std::string& to) override {
    if (!watched.empty()) seen_at_moves.push_back(ReadFile(watched));
    if (EnvWrapper::MoveNoReplace(from, to)) return true;
    move_errors.push_back(LastError());
    return false;
  }
  bool RenameReplacing(const std::string& from, const std::string& to) override {
    if (refuse_renames) return Fail(refuse_renames);
    return EnvWrapper::RenameReplacing(from, to);
  }
  std::string squatter;
  std::string watched;  // a file whose bytes each move records
  std::vector<std::string> seen_at_moves;
  int refuse_renames = 0;
  int refuse_directories = 0;
  std::vector<std::string> made;
  std::vector<int> move_errors;
};

// The backup directory is made in the current directory: run in a scratch one.
class MoveProcessedFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(dir_.path());
  }
  void TearDown() override { fs::current_path(previous_); }

  bool Move(PinnedEnv& env, std::vector<std::string> names) {
    out_.str("");
    err_.str("");
    tavrin::Run run(env, out_, err_);
    run.settings.input_directory = (dir_.path() / "in").string();
    run.settings.output_directory = (dir_.path() / "out").string();
    for (auto& name : names) run.files.push_back(InputFile{std::move(name), 1});
    bool ok = MoveProcessedFiles(run);
    errors_reported_ = run.errors_reported;
    return ok;
  }

  TempDir dir_;
  fs::path previous_;
  std::ostringstream out_, err_;
  bool errors_reported_ = false;
};

TEST_F(MoveProcessedFilesTest, RunsInTheSameSecondEachMakeTheirOwnDirectory) {
  PinnedEnv env;
  const std::string second = std::string(kBackup) + "_2";
  // Another run has made the third name already, with its own file in it.
  const fs::path theirs = dir_.path() / (std::string(kBackup) + "_3");
  WriteFile(theirs / "a.sql", "theirs");
  const std::string fourth = std::string(kBackup) + "_4";
  for (const char* content : {"first", "second", "fourth"}) {
    WriteFile(dir_.path() / "in" / "a.sql", content);
    WriteFile(dir_.path() / "out" / "Output1.tvr", content);
    WriteFile(dir_.path() / "out" / "import1_x.olog", content);
    ASSERT_TRUE(Move(env, {"a.sql"}));
    EXPECT_EQ(err_.str(), "");
    EXPECT_FALSE(errors_reported_);
  }
  EXPECT_EQ(env.made, (std::vector<std::string>{kBackup, kBackup, second, kBackup, second,
                                                theirs.filename().string(), fourth}));
  EXPECT_TRUE(out_.str().starts_with("\n\nMoving processed files to backup directory " + fourth +
                                     "\n\n Moving INPUT SQL Files...\n"))
      << out_.str();
  EXPECT_EQ(ReadFile(dir_.path() / kBackup / "a.sql"), "first");
  EXPECT_EQ(ReadFile(dir_.path() / second / "Output1.tvr"), "second");
  EXPECT_EQ(ReadFile(dir_.path() / fourth / "import1_x.olog"), "fourth");
  EXPECT_EQ(ReadFile(theirs / "a.sql"), "theirs");
  EXPECT_FALSE(fs::exists(theirs / "Output1.tvr"));
  EXPECT_FALSE(fs::exists(dir_.path() / "in" / "a.sql"));
}

TEST_F(MoveProcessedFilesTest, DirectoryThatCannotBeMadeMovesNothingAndIsReported) {
  PinnedEnv env;
  env.refuse_directories = 13;
  WriteFile(dir_.path() / "in" / "a.sql", "input");
  EXPECT_FALSE(Move(env, {"a.sql"}));
  EXPECT_TRUE(errors_reported_);
  EXPECT_EQ(env.made, std::vector<std::string>{kBackup});  // no other name is tried
  EXPECT_EQ(out_.str(),
            std::string("\n\nMoving processed files to backup directory ") + kBackup + "\n");
  EXPECT_EQ(
      err_.str(),
      "\n[MoveProcessedFiles] Error : Could not create backup directory. Process is aborted\n");
  EXPECT_EQ(ReadFile(dir_.path() / "in" / "a.sql"), "input");
}

TEST_F(MoveProcessedFilesTest, TakenDestinationIsReportedWithItsReasonAndTheRestMoved) {
  PinnedEnv env;
  env.squatter = "b.sql";
  for (const char* name : {"a.sql", "b.sql", "c.sql"}) WriteFile(dir_.path() / "in" / name, name);
  fs::create_directory(dir_.path() / "out");

  EXPECT_TRUE(Move(env, {"a.sql", "b.sql", "c.sql"}));
  EXPECT_TRUE(errors_reported_);
  ASSERT_EQ(env.move_errors.size(), 1u);
  const std::string in = (dir_.path() / "in").string() + kPathSeparator;
  const std::string out = (dir_.path() / "out").string() + kPathSeparator;
  // The file's own path and the system's reason.
  // An output directory that holds no script and no output log is no error.
  EXPECT_EQ(err_.str(), "\n[EnumerateAndMoveFiles] Error: Unable to move file " + in + "b.sql: " +
                            env.ErrorText(env.move_errors[0]) + "\n");
#ifndef _WIN32
  EXPECT_EQ(env.ErrorText(env.move_errors[0]), "File exists");
#endif
  EXPECT_EQ(ReadFile(dir_.path() / kBackup / "b.sql"), "already there");
  EXPECT_EQ(ReadFile(dir_.path() / "in" / "b.sql"), "b.sql");
  EXPECT_EQ(ReadFile(dir_.path() / kBackup / "a.sql"), "a.sql");
  EXPECT_EQ(ReadFile(dir_.path() / kBackup / "c.sql"), "c.sql");
}


std::string HashOf(const std::string& bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.HexDigest();
}

TEST_F(MoveProcessedFilesTest, MovedScriptsLeaveTheJournalAndWhatWaitsStays) {
  PinnedEnv env;
  const fs::path out = dir_.path() / "out";
  const fs::path journal = out / kImportJournalName;
  WriteFile(dir_.path() / "in" / "a.sql", "input");
  WriteFile(out / "Output1.tvr", "-- 1\nEXIT\n");
  WriteFile(out / "Output2.tvr", "-- 2\nEXIT\n");
  WriteFile(out / "Output3.tvr", "-- 3\nEXIT\n");  // never imported
  const std::string waiting =
      HashOf("-- 4\nEXIT\n") + " ended 2026-01-01T10:00:00Z Output4.tvr\n";  // still there
  const std::string before =
      HashOf("-- 1\nEXIT\n") + " started 2026-01-01T10:00:00Z Output1.tvr\n" + waiting +
      HashOf("-- 1\nEXIT\n") + " ended 2026-01-01T10:00:01Z Output1.tvr\n" +
      HashOf("-- 2\nEXIT\n") + " started 2026-01-01T10:00:02Z Output2.tvr\n";
  WriteFile(journal, before);

  env.refuse_renames = 13;
  ASSERT_TRUE(Move(env, {"a.sql"}));
  // The moves stand; the moved lines stay until a later backup drops them.
  EXPECT_TRUE(errors_reported_);
  std::string reason = env.ErrorText(13);
  if (reason.ends_with('.')) reason.pop_back();
  EXPECT_TRUE(err_.str().ends_with("\n[MoveProcessedFiles] Error: Unable to write the import "
                                   "journal " + journal.string() + ". " + reason + ".\n"))
      << err_.str();
  EXPECT_EQ(ReadFile(journal),
            before + HashOf("-- 1\nEXIT\n") + " moved 2026-01-02T03:04:05Z Output1.tvr\n" +
                HashOf("-- 2\nEXIT\n") + " moved 2026-01-02T03:04:05Z Output2.tvr\n");
  // Nor could the record be written: no mark was appended to a file of none.
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
  EXPECT_EQ(fs::directory_iterator(out)->path().filename(), kImportJournalName);

  // The next backup, even one that moves no script, rewrites it.
  env.refuse_renames = 0;
  WriteFile(dir_.path() / "in" / "b.sql", "input");
  ASSERT_TRUE(Move(env, {"b.sql"}));
  EXPECT_EQ(ReadFile(journal), waiting);
  EXPECT_FALSE(errors_reported_);
}

// A run stopped between two input moves leaves the record of them, and
// the next run moves what is left before it reads any input.
TEST_F(MoveProcessedFilesTest, InputsOfARunStoppedWhileMovingThemAreMovedByTheNext) {
  PinnedEnv env;
  const fs::path in = dir_.path() / "in", out = dir_.path() / "out";
  const fs::path record = out / kBackupRecordName;
  env.watched = record.string();
  for (const char* name : {"a.sql", "b.sql"}) WriteFile(in / name, name);
  fs::create_directory(out);
  ASSERT_TRUE(Move(env, {"a.sql", "b.sql"}));
  const std::string backup = std::string(kBackup) + kPathSeparator;
  const std::string listed = "tavrin-backup 2\ninput\t" + std::string(kBackup) + "\t" + in.string() +
                             kPathSeparator + "\ta.sql\t5\t" + HashOf("a.sql") + "\ninput\t" +
                             kBackup + "\t" + in.string() + kPathSeparator + "\tb.sql\t5\t" +
                             HashOf("b.sql") + "\nend\n";
  // On the disk before the first move, each struck out after.
  EXPECT_EQ(env.seen_at_moves, std::vector<std::string>(2, listed));
  EXPECT_FALSE(fs::exists(record));

  // A record of the earlier form is still finished.
  const std::string written = in.string() + kPathSeparator + "\n" + backup + "\na.sql\nb.sql\n";

  // Stopped after a.sql: b.sql waits, c.sql came later and is not the
  // record's.
  fs::rename(dir_.path() / kBackup / "b.sql", in / "b.sql");
  WriteFile(in / "c.sql", "c.sql");
  WriteFile(record, written);
  tavrin::Run run(env, out_, err_);
  run.settings.output_directory = out.string();
  out_.str("");
  err_.str("");
  FinishStoppedBackup(run);
  EXPECT_EQ(out_.str(), "\n[MoveProcessedFiles] Notice: An earlier run stopped while moving its "
                        "input files to " + std::string(kBackup) +
                            ". Moving the rest there first.\n\tMoved File :b.sql to " + backup +
                            "\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(ReadFile(dir_.path() / kBackup / "b.sql"), "b.sql");
  EXPECT_EQ(ReadFile(in / "c.sql"), "c.sql");
  EXPECT_FALSE(fs::exists(record));
  out_.str("");
  FinishStoppedBackup(run);  // nothing left to finish: not a word
  EXPECT_EQ(out_.str(), "");

  // A record that outlived its moves: a later a.sql is not the one it names.
  WriteFile(in / "a.sql", "a later a.sql");
  WriteFile(record, written);
  FinishStoppedBackup(run);
  EXPECT_EQ(ReadFile(in / "a.sql"), "a later a.sql");
  EXPECT_EQ(ReadFile(dir_.path() / kBackup / "a.sql"), "a.sql");
  EXPECT_EQ(err_.str(), "");
  EXPECT_FALSE(fs::exists(record));
}

// What the journal says of a script decides its moved line and whether its
// output log goes now: a tagged script gets its moved line whatever its
// import matched, and the output log of an import still open after the
// scripts moved stays.
TEST_F(MoveProcessedFilesTest, MovedLinesAndOutputLogsFollowTheJournal) {
  const fs::path out = dir_.path() / "out", journal = out / kImportJournalName;
  const std::string script = "-- 1\nEXIT\n";
  InputFileList files{InputFile{"a.sql", 1}};
  const std::string tag = GroupTags(files).at(1).tag;
  struct Case {
    const char* name;
    std::string journal;  // before the backup
    bool moved_line;      // the backup writes one for Output1.tvr
    bool log_stays;       // import1.olog stays in the output directory
  };
  const std::string other = HashOf("-- other bytes\nEXIT\n");
  const std::vector<Case> cases = {
      {"imported before as other bytes",
       other + " started 2026-01-01T10:00:00Z group=" + tag + " Output1.tvr\n" + other +
           " ended 2026-01-01T10:00:01Z group=" + tag + " Output1.tvr\n",
       true, false},
      {"still open, moved now: its output log goes with it",
       HashOf(script) + " started 2026-01-01T10:00:00Z group=" + tag +
           " log=import1.olog Output1.tvr\n",
       true, false},
      {"still open, not moved: its output log stays",
       HashOf("-- 5\nEXIT\n") + " started 2026-01-01T10:00:00Z log=import1.olog Output5.tvr\n",
       false, true},
      {"never imported", HashOf("-- 9\nEXIT\n") + " started 2026-01-01T10:00:00Z Output9.tvr\n",
       false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_.path() / kBackup);
    fs::remove_all(out);
    WriteFile(dir_.path() / "in" / "a.sql", "input");
    WriteFile(out / "Output1.tvr", script);
    WriteFile(out / "import1.olog", "log one");
    WriteFile(out / "import2.olog", "log two");
    WriteFile(journal, c.journal);
    PinnedEnv env;
    tavrin::Run run(env, out_, err_);
    run.settings.input_directory = (dir_.path() / "in").string();
    run.settings.output_directory = out.string();
    run.files = files;
    run.scripts_written.push_back(WrittenScript{(out / "Output1.tvr").string(), 1});
    ASSERT_TRUE(MoveProcessedFiles(run));
    EXPECT_EQ(fs::exists(out / "import1.olog"), c.log_stays);
    EXPECT_FALSE(fs::exists(out / "import2.olog"));
    EXPECT_FALSE(fs::exists(out / kBackupRecordName));
    // The moved line, or the rewrite it made: the import it drops is gone.
    if (c.moved_line) {
      const std::string after = ReadFile(journal);
      EXPECT_TRUE(after.empty() || after.find(" moved 2026-01-02T03:04:05Z group=" + tag +
                                              " Output1.tvr\n") != std::string::npos)
          << after;
    } else {
      EXPECT_EQ(ReadFile(journal), c.journal);
    }
  }
}

// A group held back stays in the input directory, its script removed; the
// rest and every output log move. The record names no held-back file but as a
// script to remove, the journal keeps the held-back imports of the groups
// found (the -D group's among them), and the next run groups the same.
TEST_F(MoveProcessedFilesTest, HeldBackGroupsStayWithTheSameTagsAndTheirScriptsAreRemoved) {
  const fs::path in = dir_.path() / "in", out = dir_.path() / "out";
  const fs::path journal = out / kImportJournalName;
  const auto script = [](int group) { return "-- " + std::to_string(group) + "\nEXIT\n"; };
  const auto held_back = [&](int group, const std::string& tag) {
    return HashOf(script(group)) + " started 2026-01-01T10:00:00Z group=" + tag + " O.tvr\n" +
           HashOf(script(group)) + " undone 2026-01-01T10:00:01Z group=" + tag + " O.tvr\n";
  };
  for (const std::set<std::int32_t>& held : {std::set<std::int32_t>{2, 3}, {1, 3}}) {
    fs::remove_all(in), fs::remove_all(out), fs::remove_all(dir_.path() / kBackup);
    // Groups 1: a1; 2: b1 b2; 3: c1; 4, left out by -D: d1.
    for (const char* name : {"a1", "b1", "b2", "c1", "d1"})
      WriteFile(in / (name + std::string(".sql")), name[1] == '1' ? "COLUMN identity_1 X\n" : "");
    PinnedEnv env;
    env.watched = (out / kBackupRecordName).string();
    tavrin::Run run(env, out_, err_);
    run.settings.input_directory = in.string();
    run.settings.output_directory = out.string();
    run.settings.discard_last_group = true;
    ASSERT_EQ(GroupFileList(run), Grouping::kGrouped);
    const auto tags = GroupTags(run.files);
    const std::string discarded = GroupTags(run.discarded_files).at(4).tag;
    WriteFile(journal, held_back(2, tags.at(2).tag) + held_back(4, discarded) +
                           held_back(5, "5555555555555555"));  // a group gone
    for (int group = 1; group <= 3; ++group) {
      const fs::path path = out / ("Output" + std::to_string(group) + ".tvr");
      WriteFile(path, script(group));
      WriteFile(out / ("import" + std::to_string(group) + ".olog"), "log");
      run.scripts_written.push_back({path.string(), group});
    }
    run.held_back_groups = held;
    ASSERT_TRUE(MoveProcessedFiles(run));
    for (const InputFile& file : run.files) {
      const bool stays = held.count(file.group) > 0;
      const std::string name = "Output" + std::to_string(file.group) + ".tvr";
      EXPECT_EQ(fs::exists(in / file.name), stays) << file.name;
      EXPECT_EQ(fs::exists(dir_.path() / kBackup / name), !stays) << name;
      EXPECT_FALSE(fs::exists(out / name)) << name;
      EXPECT_TRUE(fs::exists(dir_.path() / kBackup / ("import" + name.substr(6, 1) + ".olog")));
      for (const std::string& listed : env.seen_at_moves)  // no input or script step
        EXPECT_TRUE(!stays || (listed.find("\t" + file.name + "\t") == std::string::npos &&
                               listed.find("\t" + name + "\t") == std::string::npos)) << listed;
    }
    EXPECT_TRUE(fs::exists(in / "d1.sql"));
    EXPECT_EQ(ReadFile(journal),
              (held.count(2) ? held_back(2, tags.at(2).tag) : "") + held_back(4, discarded));

    tavrin::Run next(env, out_, err_);
    next.settings.input_directory = in.string();
    ASSERT_EQ(GroupFileList(next), Grouping::kGrouped);
    std::set<std::string> expected = {discarded}, found;
    for (std::int32_t group : held) expected.insert(tags.at(group).tag);
    for (const auto& [group, tag] : GroupTags(next.files)) found.insert(tag.tag);
    EXPECT_EQ(found, expected);
  }
}

}  // namespace
}  // namespace tavrin

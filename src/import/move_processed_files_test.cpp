// The backup stage in-process, where the clock and the backup directory's
// contents can be pinned down.

#include "import/move_processed_files.h"

#include <gtest/gtest.h>

#include <sstream>

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
// directory as soon as it is made.
class PinnedEnv : public test::EnvWrapper {
 public:
  PinnedEnv() : EnvWrapper(Env::Default()) {}
  DateTime UtcNow() override { return {2026, 1, 2, 3, 4, 5}; }
  bool MakeDirectory(const std::string& path) override {
    if (!EnvWrapper::MakeDirectory(path)) return false;
    if (!squatter.empty()) WriteFile(fs::path(path) / squatter, "already there");
    return true;
  }
  std::string squatter;
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
    return MoveProcessedFiles(run);
  }

  TempDir dir_;
  fs::path previous_;
  std::ostringstream out_, err_;
};

TEST_F(MoveProcessedFilesTest, SecondRunInTheSameSecondMovesNothing) {
  PinnedEnv env;
  WriteFile(dir_.path() / "in" / "a.sql", "first");
  WriteFile(dir_.path() / "out" / "Output1.tvr", "");
  WriteFile(dir_.path() / "out" / "import1_x.olog", "");
  ASSERT_TRUE(Move(env, {"a.sql"}));
  EXPECT_EQ(err_.str(), "");

  WriteFile(dir_.path() / "in" / "a.sql", "second");
  WriteFile(dir_.path() / "out" / "Output1.tvr", "");
  EXPECT_FALSE(Move(env, {"a.sql"}));
  EXPECT_EQ(out_.str(),
            std::string("\n\nMoving processed files to backup directory ") + kBackup + "\n");
  EXPECT_EQ(
      err_.str(),
      "\n[MoveProcessedFiles] Error : Could not create backup directory. Process is aborted\n");
  EXPECT_EQ(ReadFile(dir_.path() / "in" / "a.sql"), "second");
  EXPECT_TRUE(fs::exists(dir_.path() / "out" / "Output1.tvr"));
  EXPECT_EQ(ReadFile(dir_.path() / kBackup / "a.sql"), "first");
}

TEST_F(MoveProcessedFilesTest, TakenDestinationIsReportedAndKeptAndTheRestMoved) {
  PinnedEnv env;
  env.squatter = "b.sql";
  for (const char* name : {"a.sql", "b.sql", "c.sql"}) WriteFile(dir_.path() / "in" / name, name);
  fs::create_directory(dir_.path() / "out");

  EXPECT_TRUE(Move(env, {"a.sql", "b.sql", "c.sql"}));
  const std::string in = (dir_.path() / "in").string() + kPathSeparator;
  const std::string out = (dir_.path() / "out").string() + kPathSeparator;
  EXPECT_EQ(err_.str(), "\n[EnumerateAndMoveFiles] Error: Unable to move file " + in + "\n" +
                            "[GroupFileList]Error: Unable to find *.tvr files in " + out +
                            " directory.\n[GroupFileList]Error: Unable to find *.olog files in " +
                            out + " directory.\n");
  EXPECT_EQ(ReadFile(dir_.path() / kBackup / "b.sql"), "already there");
  EXPECT_EQ(ReadFile(dir_.path() / "in" / "b.sql"), "b.sql");
  EXPECT_EQ(ReadFile(dir_.path() / kBackup / "a.sql"), "a.sql");
  EXPECT_EQ(ReadFile(dir_.path() / kBackup / "c.sql"), "c.sql");
}

}  // namespace
}  // namespace tavrin

// The parse stage against a disk that refuses to take a script.

#include "script/parse_file_list.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/path.h"
#include "support/env_wrapper.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

// Every file this Env creates fails on write, as on a full disk.
class FullDiskEnv : public test::EnvWrapper {
 public:
  FullDiskEnv() : EnvWrapper(Env::Default()) {}
  std::unique_ptr<OutputFile> CreateOutput(const std::string&) override {
    struct FullFile : OutputFile {
      bool Append(std::string_view) override { return false; }
      bool Close() override { return true; }
      bool Sync() override { return false; }
    };
    return std::make_unique<FullFile>();
  }
};

TEST(ParseFileList, AScriptThatCannotBeWrittenFailsTheStage) {
  test::TempDir dir;
  test::WriteFile(dir.path() / "a.sql", "COLUMN identity_1 x\n");
  test::WriteFile(dir.path() / "b.sql", "COLUMN identity_1 y\n");
  FullDiskEnv env;
  std::ostringstream out, err;
  tavrin::Run run(env, out, err);
  run.settings.input_directory = dir.path().string();
  run.settings.output_directory = "out";
  run.files = {{"a.sql", 1}, {"b.sql", 2}};

  EXPECT_FALSE(ParseFileList(run));
  // The first script fails as the second group begins: nothing more is read.
  EXPECT_EQ(err.str(), "\n[ParseFileList]Error: Unable to write output log file:out" +
                           std::string(1, kPathSeparator) + "Output1.tvr\n");
  EXPECT_EQ(out.str().find("b.sql"), std::string::npos);
}

// Records the files made and the renames; can refuse the renames.
class RenameWatchingEnv : public test::EnvWrapper {
 public:
  RenameWatchingEnv() : EnvWrapper(Env::Default()) {}
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override {
    created.push_back(path);
    return EnvWrapper::CreateOutput(path);
  }
  bool RenameReplacing(const std::string& from, const std::string& to) override {
    renamed.push_back(from + " -> " + to);
    return refuse ? Fail(13) : EnvWrapper::RenameReplacing(from, to);
  }
  std::vector<std::string> created, renamed;
  bool refuse = false;
};

TEST(ParseFileList, ScriptsTakeTheirNamesOnlyWhenComplete) {
  test::TempDir dir;
  test::WriteFile(dir.path() / "a.sql", "COLUMN identity_1 x\n");
  test::WriteFile(dir.path() / "b.sql", "COLUMN identity_1 y\n");
  const std::string out = dir.path().string();
  const std::string one = JoinPath(out, "Output1.tvr"), two = JoinPath(out, "Output2.tvr");
  for (bool refuse : {false, true}) {
    SCOPED_TRACE(refuse);
    RenameWatchingEnv env;
    env.refuse = refuse;
    std::ostringstream console, err;
    tavrin::Run run(env, console, err);
    run.settings.input_directory = out;
    run.settings.output_directory = out;
    run.files = {{"a.sql", 1}, {"b.sql", 2}};

    EXPECT_EQ(ParseFileList(run), !refuse);
    if (!refuse) {
      EXPECT_EQ(env.created, (std::vector<std::string>{one + ".part", two + ".part"}));
      EXPECT_EQ(env.renamed, (std::vector<std::string>{one + ".part -> " + one,
                                                       two + ".part -> " + two}));
      ASSERT_EQ(run.scripts_written.size(), 2u);
      EXPECT_EQ(run.scripts_written[0].path, one);
      EXPECT_EQ(run.scripts_written[1].path, two);
      EXPECT_EQ(run.scripts_written[1].group, 2);
      EXPECT_NE(test::ReadFile(two).find("COLUMN identity_1 y"), std::string::npos);
      EXPECT_EQ(err.str(), "");
    } else {
      // The message names the script, never its temporary file, which is gone.
      EXPECT_EQ(err.str(), "\n[ParseFileList]Error: Unable to write output log file:" + one + "\n" +
                               "\tReason: " + Env::Default()->ErrorText(13) + "\n");
      EXPECT_FALSE(std::filesystem::exists(one + ".part"));
    }
    std::filesystem::remove(one);
    std::filesystem::remove(two);
  }
}

// A line the client would have refused is reported as invalid, never as a
// reference to a missing identity, whichever identities are declared.
TEST(ParseFileList, AJoinedReferenceIsInvalidWhetherOrNotItsIdentityIsDeclared) {
  test::TempDir dir;
  const std::string joined = "UPDATE tbl_Items SET Ref=&identity_2.5 WHERE Qty=1;";
  for (const std::string declared : {"identity_1", "identity_2"}) {
    SCOPED_TRACE(declared);
    test::WriteFile(dir.path() / "a.sql",
                    "COLUMN " + declared + " NEW_VALUE " + declared + "\n" + joined + "\n");
    std::ostringstream out, err;
    tavrin::Run run(*Env::Default(), out, err);
    run.settings.input_directory = dir.path().string();
    run.settings.output_directory = dir.path().string();
    run.files = {{"a.sql", 1}};
    ASSERT_TRUE(ParseFileList(run));
    EXPECT_NE(out.str().find("\t[AddRecordToKey]Found an invalid SQL statement " + joined +
                             ". Skipped.\n"),
              std::string::npos);
    EXPECT_EQ(out.str().find("Uanble to find the identity key"), std::string::npos);
  }
}

}  // namespace
}  // namespace tavrin

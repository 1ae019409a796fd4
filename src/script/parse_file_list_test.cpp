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

}  // namespace
}  // namespace tavrin

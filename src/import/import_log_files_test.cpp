// The import stage in-process, with sqlplus and the clock faked.

#include "import/import_log_files.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/path.h"
#include "support/env_wrapper.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Records each sqlplus run instead of starting it; can refuse to create the
// n-th output log.
class FakeSqlPlusEnv : public test::EnvWrapper {
 public:
  FakeSqlPlusEnv() : EnvWrapper(Env::Default()) {}
  DateTime UtcNow() override { return {2026, 1, 2, 3, 4, 5}; }
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override {
    if (++creates == refuse_create) return Fail(28), nullptr;
    return EnvWrapper::CreateOutput(path);
  }
  bool RunChild(const ChildSpec& spec, ChildExit* exit) override {
    runs.push_back(spec.argv);
    spec.stdout_file->Append("ran\n");
    *exit = {};
    return true;
  }

  int creates = 0;
  int refuse_create = 0;
  std::vector<std::vector<std::string>> runs;
};

struct ImportRun {
  explicit ImportRun(const std::string& output) : run(env, out, err) {
    run.settings.output_directory = output;
    run.settings.user = "u";
    run.settings.password = "p";
    run.settings.host = "h";
  }
  FakeSqlPlusEnv env;
  std::ostringstream out, err;
  Run run;
};

TEST(ImportLogFiles, OutputLogThatCannotBeMadeStopsAfterTheScriptsBeforeIt) {
  TempDir dir;
  const std::string output = dir.path().string();
  WriteFile(dir.path() / "Output1.tvr", "");
  WriteFile(dir.path() / "Output2.tvr", "");
  ImportRun r(output);
  r.env.refuse_create = 2;

  EXPECT_FALSE(ImportLogFiles(r.run));
  ASSERT_EQ(r.env.runs.size(), 1u);
  EXPECT_EQ(r.env.runs[0],
            (std::vector<std::string>{"sqlplus", "u/p@h", "@" + JoinPath(output, "Output1.tvr")}));
  EXPECT_EQ(ReadFile(dir.path() / "import1_2026_01_02_03_04_05.olog"), "ran\n");
  EXPECT_EQ(r.out.str(),
            "\n\nImporting data from file == Output1.tvr== to SQL*PLUS started ...\n"
            "\nError: Could not create the output log file. Error number :(28).\n");
}

TEST(ImportLogFiles, UserWithoutPasswordRunsNothing) {
  TempDir dir;
  WriteFile(dir.path() / "Output1.tvr", "");
  ImportRun r(dir.path().string());
  r.run.settings.password.reset();

  EXPECT_FALSE(ImportLogFiles(r.run));
  EXPECT_TRUE(r.env.runs.empty());
  EXPECT_EQ(r.out.str(),
            "\n\n[ImportLogFiles] Error: UserName/Password not specified. Import abandoned...\n\n");
}

}  // namespace
}  // namespace tavrin

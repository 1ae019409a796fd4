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
  std::unique_ptr<OutputFile> CreateNewOutput(const std::string& path, bool* exists) override {
    if (++creates == refuse_create) return *exists = false, Fail(28), nullptr;
    return EnvWrapper::CreateNewOutput(path, exists);
  }
  bool RunChild(const ChildCommand& command, ChildExit* exit) override {
    runs.push_back(command.argv);
    inputs.push_back(command.stdin_text.value_or("(console)"));
    command.stdout_file->Append(printed);
    *exit = {};
    return true;
  }
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
    if (refuse_output_logs && path.ends_with(".olog")) return Fail(13), nullptr;
    return EnvWrapper::OpenForReading(path);
  }

  int creates = 0;
  int refuse_create = 0;
  bool refuse_output_logs = false;
  std::string printed = "ran\n";  // what each sqlplus run prints
  std::vector<std::vector<std::string>> runs;
  std::vector<std::string> inputs;  // what each run was given to read
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
  WriteFile(dir.path() / "Output1.tvr", "EXIT\n");
  WriteFile(dir.path() / "Output2.tvr", "EXIT\n");
  ImportRun r(output);
  r.env.refuse_create = 2;

  EXPECT_FALSE(ImportLogFiles(r.run));
  ASSERT_EQ(r.env.runs.size(), 1u);
  // The password is in no argument; the client reads it, then end-of-input.
  EXPECT_EQ(r.env.runs[0], (std::vector<std::string>{"sqlplus", "-L", "u@h",
                                                     "@" + JoinPath(output, "Output1.tvr")}));
#ifdef _WIN32
  EXPECT_EQ(r.env.inputs[0], "p\r\n");
#else
  EXPECT_EQ(r.env.inputs[0], "p\n");
#endif
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

TEST(ImportLogFiles, OutputLogsOfTheSameSecondNeverReplaceEachOther) {
  TempDir dir;
  WriteFile(dir.path() / "Output1.tvr", "EXIT\n");
  WriteFile(dir.path() / "import1_2026_01_02_03_04_05.olog", "an earlier run's\n");
  ImportRun r(dir.path().string());
  r.env.printed = "ERROR:\nORA-12154: TNS:could not resolve the connect identifier specified\n";

  EXPECT_TRUE(ImportLogFiles(r.run));
  EXPECT_TRUE(r.run.errors_reported);
  EXPECT_EQ(ReadFile(dir.path() / "import1_2026_01_02_03_04_05.olog"), "an earlier run's\n");
  const std::string log = JoinPath(dir.path().string(), "import1_2026_01_02_03_04_05_2.olog");
  EXPECT_EQ(ReadFile(log), r.env.printed);
  // The warning names the log this run wrote.
  EXPECT_EQ(r.out.str(),
            "\n\nImporting data from file == Output1.tvr== to SQL*PLUS started ...\n"
            "\n[ImportLogFiles] Warning: SQL*PLUS reported 1 error(s) for file Output1.tvr: "
            "ORA-12154: TNS:could not resolve the connect identifier specified. Check its output "
            "log " + log + ".\n"
            "\n[ImportLogFiles] 1 of 1 scripts reported errors. Check their output logs.\n");
}

TEST(ImportLogFiles, OutputLogThatCannotBeReadBackIsNamedAndTheRunGoesOn) {
  TempDir dir;
  WriteFile(dir.path() / "Output1.tvr", "EXIT\n");
  WriteFile(dir.path() / "Output2.tvr", "EXIT\n");
  ImportRun r(dir.path().string());
  r.env.refuse_output_logs = true;

  EXPECT_TRUE(ImportLogFiles(r.run));
  EXPECT_EQ(r.env.runs.size(), 2u);
  // Unchecked is not clean: both scripts count as reporting errors.
  EXPECT_TRUE(r.run.errors_reported);
  const std::string warning = "\n[ImportLogFiles] Warning: Unable to read output log " +
                              JoinPath(dir.path().string(), "import1_2026_01_02_03_04_05.olog") +
                              ". Its errors could not be checked.\n";
  EXPECT_NE(r.out.str().find(warning), std::string::npos) << r.out.str();
  EXPECT_TRUE(r.out.str().ends_with(
      "\n[ImportLogFiles] 2 of 2 scripts reported errors. Check their output logs.\n"));
}

TEST(ImportLogFiles, ParseRunImportsTheScriptsItWroteInTheOrderWritten) {
  TempDir dir;
  const std::string output = dir.path().string();
  WriteFile(dir.path() / "Output3.tvr", "EXIT\n");
  WriteFile(dir.path() / "Output2.tvr", "EXIT\n");
  ImportRun r(output);
  r.run.settings.parse = true;
  r.run.files.push_back({"a.sql", 3});
  r.run.scripts_written = {JoinPath(output, "Output3.tvr"), JoinPath(output, "Output2.tvr")};

  EXPECT_TRUE(ImportLogFiles(r.run));
  ASSERT_EQ(r.env.runs.size(), 2u);
  // In the order written, whatever their names.
  EXPECT_EQ(r.env.runs[0][3], "@" + JoinPath(output, "Output3.tvr"));
  EXPECT_EQ(r.env.runs[1][3], "@" + JoinPath(output, "Output2.tvr"));
  EXPECT_FALSE(r.run.errors_reported);
}

TEST(ImportLogFiles, WrittenScriptThatIsGoneIsNotRunAndCountsAsAnError) {
  TempDir dir;
  const std::string output = dir.path().string();
  WriteFile(dir.path() / "Output2.tvr", "EXIT");
  ImportRun r(output);
  r.run.settings.parse = true;
  r.run.files.push_back({"a.sql", 1});
  r.run.scripts_written = {JoinPath(output, "Output1.tvr"), JoinPath(output, "Output2.tvr")};

  EXPECT_TRUE(ImportLogFiles(r.run));
  ASSERT_EQ(r.env.runs.size(), 1u);
  EXPECT_TRUE(r.run.errors_reported);
  EXPECT_TRUE(r.out.str().starts_with("\n[ImportLogFiles] Warning: Unable to read script " +
                                      JoinPath(output, "Output1.tvr") +
                                      ". It is not imported.\n"))
      << r.out.str();
  EXPECT_TRUE(r.out.str().ends_with(
      "\n[ImportLogFiles] 1 of 2 scripts reported errors. Check their output logs.\n"));
}

}  // namespace
}  // namespace tavrin

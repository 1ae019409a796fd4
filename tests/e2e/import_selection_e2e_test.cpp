// Which scripts the import takes, in which order, and which it leaves alone,
// end to end with the stand-in sqlplus.

#include <algorithm>

#include "e2e/import_texts.h"
#include "e2e/stand_in.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

const std::string kAbortOut =
    "\n[Tavrin]Error: Unable to import SQL log files. Process will be aborted\n";

class ImportSelectionTest : public StandInTest {
 protected:
  void SetUp() override {
    fs::create_directories(in_);
    fs::create_directories(out_);
  }

  E2eResult Run(std::vector<std::string> switches, EnvVars env = {}) {
    switches.insert(switches.end(), {"-i", Path(in_), "-o", Path(out_), "-U", "u", "-P", "p",
                                     "-S", "h"});
    return RunTavrin(switches, {}, WithStandIn(std::move(env)));
  }

  // The script each output log was made from, in the order they were made.
  std::vector<std::string> ImportedScripts() const {
    std::vector<std::string> scripts;
    for (const auto& [name, bytes] : OutputLogs(out_)) {
      const std::string marker = "argv[3]=@";
      std::size_t at = bytes.find(marker);
      std::size_t end = bytes.find_first_of("\r\n", at);
      std::string path = at == std::string::npos ? "" : bytes.substr(at + marker.size(),
                                                                      end - at - marker.size());
      scripts.push_back(path.substr(path.find_last_of("\\/") + 1));
    }
    return scripts;
  }

  const fs::path in_ = dir() / "in";
  const fs::path out_ = dir() / "out";
};

// One input file per group: each declares identity_1.
void WriteGroups(const fs::path& in, int count) {
  for (int i = 1; i <= count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "g%02d.sql", i);
    WriteFile(in / name, "COLUMN identity_1 x" + std::to_string(i) + "\n");
  }
}

TEST_F(ImportSelectionTest, ParseAndImportTakeOnlyThisRunsScriptsWithAndWithoutD) {
  for (bool discard : {false, true}) {
    SCOPED_TRACE(discard ? "with -D" : "without -D");
    fs::remove_all(in_);
    fs::remove_all(out_);
    fs::create_directories(out_);
    WriteGroups(in_, 2);
    // Left by an earlier run: the held-back group's script, and another.
    WriteFile(out_ / "Output2.tvr", ExitScript("earlier Output2"));
    WriteFile(out_ / "Old.tvr", ExitScript("earlier"));
    TempDir cwd;

    std::vector<std::string> switches = {"-l", "-p", "-I"};
    if (discard) switches.insert(switches.end(), {"-D", "x"});
    switches.insert(switches.end(),
                    {"-i", Path(in_), "-o", Path(out_), "-U", "u", "-P", "p", "-S", "h"});
    E2eResult r = RunTavrin(switches, cwd.path(), WithStandIn());
    EXPECT_EQ(r.exit_code, 0);

    std::string tail;
    if (discard) tail += StaleNotice(Path(out_ / "Output2.tvr"));
    tail += StaleNotice(Path(out_ / "Old.tvr")) + ImportingLine("Output1.tvr");
    if (!discard) tail += ImportingLine("Output2.tvr");
    EXPECT_TRUE(MaskElapsed(r.out).ends_with(tail + kElapsed)) << r.out;
    std::string log_tail;
    if (discard) log_tail += StaleNotice(Path(out_ / "Output2.tvr"));
    log_tail += StaleNotice(Path(out_ / "Old.tvr")) + ImportingLogLine("Output1.tvr");
    if (!discard) log_tail += ImportingLogLine("Output2.tvr");
    EXPECT_TRUE(OnlyLog(cwd.path()).ends_with(log_tail)) << OnlyLog(cwd.path());

    std::vector<std::string> imported = {"Output1.tvr"};
    if (!discard) imported.push_back("Output2.tvr");
    EXPECT_EQ(ImportedScripts(), imported);
    // A notice is not an error: no summary.
    EXPECT_EQ(r.out.find("reported errors"), std::string::npos);
  }
}

TEST_F(ImportSelectionTest, TwelveGroupsGoInInGroupOrder) {
  WriteGroups(in_, 12);
  std::vector<std::string> expected;
  for (int i = 1; i <= 12; ++i) expected.push_back("Output" + std::to_string(i) + ".tvr");

  E2eResult parse_and_import = Run({"-p", "-I"});
  EXPECT_EQ(parse_and_import.exit_code, 0);
  EXPECT_EQ(ImportedScripts(), expected);

  // -I alone, on the scripts left there (-F: they were imported above),
  // plus a few other names.
  for (const auto& [name, bytes] : OutputLogs(out_)) fs::remove(out_ / name);
  WriteFile(out_ / "b.tvr", ExitScript("b"));
  WriteFile(out_ / "A.tvr", ExitScript("A"));
  E2eResult import = Run({"-I", "-F"});
  EXPECT_EQ(import.exit_code, 0);
  expected.insert(expected.end(), {"A.tvr", "b.tvr"});
  EXPECT_EQ(ImportedScripts(), expected);
}

TEST_F(ImportSelectionTest, ScriptWithoutExitIsNotImportedAndCountsAsAnError) {
  // An empty group leaves an empty Output0.tvr: a file of its own before the
  // first identity_1.
  WriteFile(in_ / "a.sql", "INSERT INTO t(a) VALUES (&identity_9);\n");
  WriteFile(in_ / "b.sql", "COLUMN identity_1 x\n");
  for (bool e : {false, true}) {
    SCOPED_TRACE(e ? "-e" : "no -e");
    TempDir cwd;
    for (const auto& [name, bytes] : OutputLogs(out_)) fs::remove(out_ / name);
    fs::remove(out_ / kJournalName);  // each pass imports Output1.tvr anew
    std::vector<std::string> switches = {"-l", e ? "-pIe" : "-pI", "-i", Path(in_), "-o",
                                         Path(out_), "-U", "u", "-P", "p", "-S", "h"};
    E2eResult r = RunTavrin(switches, cwd.path(), WithStandIn());
    EXPECT_EQ(r.exit_code, e ? 2 : 0);
    const std::string lines = NoExitWarning(Path(out_ / "Output0.tvr"));
    EXPECT_TRUE(MaskElapsed(r.out).ends_with(lines + ImportingLine("Output1.tvr") +
                                             Summary(1, 2) + kElapsed))
        << r.out;
    EXPECT_TRUE(OnlyLog(cwd.path()).ends_with(lines + ImportingLogLine("Output1.tvr") +
                                              Summary(1, 2)));
    EXPECT_EQ(ImportedScripts(), std::vector<std::string>{"Output1.tvr"});
  }
}

TEST_F(ImportSelectionTest, SqlPlusIsNeverTakenFromTheWorkingDirectoryThroughThePath) {
  // An empty entry, "." and a relative one all mean the working directory.
  const bool windows = E2eTarget::Get().windows;
  const fs::path program = StandInProgram();
  fs::copy_file(program, dir() / program.filename());
  fs::create_directories(dir() / "bin");
  fs::copy_file(program, dir() / "bin" / program.filename());
  fs::create_directories(dir() / "empty");
  WriteFile(out_ / "Output1.tvr", ExitScript("one"));
  const std::string empty = Path(dir() / "empty");
  const EnvVars env = windows ? EnvVars{{"WINEPATH", ";" + empty + ";.;bin"}}
                              : EnvVars{{"PATH", ":" + empty + ":.:bin"}};
  E2eResult r = RunTavrin({"-I", "-o", Path(out_), "-U", "u", "-P", "p", "-S", "h"}, dir(), env);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Banner() + ImportingLine("Output1.tvr") + SqlPlusNotFound(r.out) + kAbortOut);
  EXPECT_EQ(r.err, "");  // the stand-in marks every run of it on standard error
}

}  // namespace
}  // namespace tavrin::test

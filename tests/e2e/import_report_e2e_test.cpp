// What the import tells about the errors SQL*Plus printed, end to end, with
// the stand-in printing the client's own error shapes.

#include "e2e/import_texts.h"
#include "e2e/stand_in.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

class ImportReportTest : public StandInTest {
 protected:
  E2eResult Import(std::vector<std::string> switches, EnvVars env = {}) {
    switches.insert(switches.end(), {"-o", Path(out_), "-U", "u", "-P", "p", "-S", "h"});
    return RunTavrin(switches, work_, WithStandIn(std::move(env)));
  }
  std::string OutputLog(std::size_t index) {
    auto logs = OutputLogs(out_);
    return index < logs.size() ? Path(out_ / logs[index].first) : "(no output log)";
  }

  void SetUp() override { fs::create_directories(work_); }

  const fs::path out_ = dir() / "out";
  const fs::path work_ = dir() / "work";
};

TEST_F(ImportReportTest, EachClientShapeIsCountedAndNamedOnTheConsoleAndInTheLog) {
  for (const char* crlf : {"0", "1"}) {
    SCOPED_TRACE(std::string("CR LF ") + crlf);
    fs::remove_all(out_);
    for (const auto& entry : fs::directory_iterator(work_)) fs::remove_all(entry.path());
    for (int i = 1; i <= 5; ++i) {
      const std::string name = "Output" + std::to_string(i) + ".tvr";
      WriteFile(out_ / name, ExitScript(name));
    }
    E2eResult r = Import({"-l", "-I"}, {{"TAVRIN_STAND_IN_SHAPES",
                                         "Output1.tvr=unique,Output2.tvr=compile,"
                                         "Output3.tvr=login,Output4.tvr=command"},
                                        {"TAVRIN_STAND_IN_CRLF", crlf}});
    EXPECT_EQ(r.exit_code, 0);  // without -e the exit code stays as it was
    // What follows each script's "Importing" line, on the console and in the log.
    const std::vector<std::string> after = {
        ReportedErrors(1, "Output1.tvr", "ORA-00001: unique constraint (AUDIT.PK_TXN) violated",
                       OutputLog(0)),
        ReportedErrors(1, "Output2.tvr", "ORA-06550: line 3, column 2:", OutputLog(1)),
        EndedWith(1, "Output3.tvr", OutputLog(2)) +
            ReportedErrors(2, "Output3.tvr",
                           "ORA-01017: invalid username/password; logon denied", OutputLog(2)),
        ReportedErrors(1, "Output4.tvr",
                       "SP2-0734: unknown command beginning \"XYZ\" - rest of line ignored.",
                       OutputLog(3)),
        "",
    };
    std::string out = Banner(), log;
    for (std::size_t i = 0; i < after.size(); ++i) {
      const std::string name = "Output" + std::to_string(i + 1) + ".tvr";
      out += ImportingLine(name) + after[i];
      log += ImportingLogLine(name) + after[i];
    }
    out += Summary(4, 5);
    log += Summary(4, 5);
    EXPECT_EQ(MaskElapsed(r.out), out + kElapsed);
    EXPECT_EQ(OnlyLog(work_), log);
    // The stand-in wrote the line ends asked for (on Windows always CR LF).
    const auto logs = OutputLogs(out_);
    ASSERT_EQ(logs.size(), 5u);
    const bool with_cr = crlf == std::string("1") || E2eTarget::Get().windows;
    EXPECT_NE(logs[0].second.find(with_cr ? "\nERROR at line 1:\r\nORA-00001"
                                          : "\nERROR at line 1:\nORA-00001"),
              std::string::npos);
  }
}

TEST_F(ImportReportTest, ExitCodeTwoWithOptionEAfterTheBackupHasRun) {
  struct Case {
    const char* what;
    EnvVars env;
    int without_e, with_e;
  };
  const std::vector<Case> cases = {
      {"clean", {}, 0, 0},
      {"error in the output log", {{"TAVRIN_STAND_IN_SHAPES", "Output2.tvr=command"}}, 0, 2},
      {"exit status alone", {{"TAVRIN_STAND_IN_EXIT", "7"}}, 0, 2},
  };
  const fs::path in = dir() / "in";
  for (const Case& c : cases) {
    for (bool e : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (e ? " with -e" : " without -e"));
      fs::remove_all(in);
      fs::remove_all(out_);
      fs::create_directories(out_);
      WriteFile(in / "a.sql", "COLUMN identity_1 x\n");
      WriteFile(in / "b.sql", "COLUMN identity_1 y\n");
      for (const auto& entry : fs::directory_iterator(work_)) fs::remove_all(entry.path());

      E2eResult r = Import({e ? "-pIme" : "-pIm", "-i", Path(in)}, c.env);
      EXPECT_EQ(r.exit_code, e ? c.with_e : c.without_e);
      EXPECT_TRUE(MaskElapsed(r.out).ends_with(kElapsed)) << r.out;
      // -m ran: inputs, scripts and output logs are in the backup.
      const auto backups = BackupDirectories(work_);
      ASSERT_EQ(backups.size(), 1u);
      EXPECT_EQ(Entries(work_ / backups[0]).size(), 6u);
      const bool reported = c.with_e == 2;
      EXPECT_EQ(r.out.find("scripts reported errors") != std::string::npos, reported);
    }
  }
}

TEST_F(ImportReportTest, CleanRunWithOptionEPrintsNothingNew) {
  WriteFile(out_ / "Output1.tvr", ExitScript("one"));
  WriteFile(out_ / "Output2.tvr", ExitScript("two"));
  E2eResult r = Import({"-l", "-Ie"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(MaskElapsed(r.out),
            Banner() + ImportingLine("Output1.tvr") + ImportingLine("Output2.tvr") + kElapsed);
  EXPECT_EQ(OnlyLog(work_), ImportingLogLine("Output1.tvr") + ImportingLogLine("Output2.tvr"));
}

}  // namespace
}  // namespace tavrin::test

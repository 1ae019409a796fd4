// The import stage end to end, with the stand-in sqlplus on the search path.

#include <cstdlib>

#include "e2e/import_texts.h"
#include "e2e/stand_in.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

using ImportE2eTest = StandInTest;

const std::string kAbortOut =
    "\n[Tavrin]Error: Unable to import SQL log files. Process will be aborted\n";
const std::string kAbortLog = std::string("[") + TAVRIN_DRIVER_SOURCE +
                              "] Error: Unable to import SQL log files. Process will be aborted\n";
const std::string kMarker = "[stand-in sqlplus] standard error\n";

std::string Importing(const std::string& name) {
  return "\n\nImporting data from file == " + name + "== to SQL*PLUS started ...\n";
}
std::string ImportingLog(const std::string& name) {
  return "\n\nImporting data from file " + name + " to SQL*PLUS...\n";
}
std::string Script(const std::string& name) { return "-- " + name + "\nEXIT\n"; }

TEST_F(ImportE2eTest, EveryScriptRunsInOrderIntoItsOwnOutputLog) {
  const fs::path out = dir() / "out";
  const std::vector<std::string> scripts = {"Output1.tvr", "Output2.tvr", "Output3.tvr"};
  for (const std::string& name : scripts) WriteFile(out / name, Script(name));
  WriteFile(out / "notes.txt", "not a script\n");

  E2eResult r = RunTavrin({"-l", "-I", "-o", Path(out), "-U", "scott", "-P", "tiger", "-S", "orcl"},
                          {}, WithStandIn());
  EXPECT_EQ(r.exit_code, 0);
  std::string out_text = Banner(), log_text, err_text;
  for (const std::string& name : scripts) {
    out_text += Importing(name);
    log_text += ImportingLog(name);
    err_text += kMarker;
  }
  // Our own messages stay on the console; the child's errors reach it too.
  EXPECT_EQ(MaskElapsed(r.out), out_text + "\nTime elapsed :N secs\n");
  EXPECT_EQ(r.err, err_text);
  EXPECT_EQ(OnlyLog(dir()), log_text);

  auto logs = OutputLogs(out);
  ASSERT_EQ(logs.size(), scripts.size());
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    EXPECT_TRUE(logs[i].first.starts_with("import" + std::to_string(i + 1) + "_")) << logs[i].first;
    EXPECT_EQ(logs[i].second,
              StandInOutput("scott@orcl", out / scripts[i], Script(scripts[i])));
  }
}

TEST_F(ImportE2eTest, BlanksQuotesAndAtSignsStayInsideTheirArguments) {
  const fs::path out = dir() / "out dir @x";
  WriteFile(out / "Output1.tvr", Script("one"));
  const std::string user = "sc ott", password = "ti\"g'er @evil.sql", host = "db \"host\" @y";
  E2eResult r = RunTavrin({"-I", "-o", Path(out), "-U", user, "-P", password, "-S", host}, {},
                          WithStandIn({{"TAVRIN_STAND_IN_PASSWORD", password}}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, kMarker);
  auto logs = OutputLogs(out);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].second,
            StandInOutput(user + "@" + host, out / "Output1.tvr", Script("one"), "matched"));
}

TEST_F(ImportE2eTest, SqlPlusNotOnTheSearchPathAbortsAtTheFirstScript) {
  const fs::path out = dir() / "out";
  WriteFile(out / "Output1.tvr", Script("one"));
  WriteFile(out / "Output2.tvr", Script("two"));
  fs::create_directory(dir() / "empty");
  E2eResult r = RunTavrin({"-l", "-I", "-o", Path(out), "-U", "u", "-P", "p", "-S", "h"}, {},
                          WithoutSqlPlus(dir() / "empty"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Banner() + Importing("Output1.tvr") +
                       SqlPlusNotFound(r.out) + kAbortOut);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(OnlyLog(dir()), ImportingLog("Output1.tvr") +
                                "\nError executing the sqplus command. Process will be aborted. "
                                "Error number :(2).\n" +
                                ReasonLine(r.out, "No such file or directory") + kAbortLog);
  auto logs = OutputLogs(out);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].second, "");
}

TEST_F(ImportE2eTest, SqlPlusInTheWorkingDirectoryIsNeverRun) {
  // One left in the batch's working folder would be handed the password.
  const fs::path out = dir() / "out";
  WriteFile(out / "Output1.tvr", Script("one"));
  fs::copy_file(StandInProgram(), dir() / StandInProgram().filename());
  fs::create_directory(dir() / "empty");
  E2eResult r = RunTavrin({"-I", "-o", Path(out), "-U", "u", "-P", "p", "-S", "h"}, dir(),
                          WithoutSqlPlus(dir() / "empty"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Banner() + Importing("Output1.tvr") +
                       SqlPlusNotFound(r.out) + kAbortOut);
  EXPECT_EQ(r.err, "");  // the stand-in marks every run of it there
  auto logs = OutputLogs(out);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].second, "");
}

TEST_F(ImportE2eTest, OutputLogThatCannotBeCreatedAbortsTheRun) {
  // A directory whose script and journal paths still fit the system's path
  // limit (4,095 bytes) while its output log's path, ten characters longer
  // than the journal's, no longer does. Tavrin passes long paths whole on
  // Windows, so under Wine the limit is the host's, met by the path Wine
  // opens: "<prefix>/dosdevices/z:" and then the host path, where it reports
  // error 31. The prefix is where this build keeps Wine's, so its length
  // moves the limit.
  const bool windows = E2eTarget::Get().windows;
  std::size_t host_before = 0;
  if (windows) {
    const char* prefix = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    host_before = (prefix ? std::string(prefix) : std::string(home ? home : "") + "/.wine").size() +
                  std::string("/dosdevices/z:").size();
  }
  // With "/tavrin-imports.journal" (23) it fits, with "/import1_<time>.olog"
  // (33) it does not; "Z:" stands for the host's root.
  const std::size_t target = (windows ? 2 : 0) + 4095 - 28 - host_before;
  fs::path out = dir();
  while (Path(out).size() + 1 < target)
    out /= std::string(std::min<std::size_t>(200, target - Path(out).size() - 1), 'd');
  WriteFile(out / "Output1.tvr", Script("one"));

  E2eResult r =
      RunTavrin({"-l", "-I", "-o", Path(out), "-U", "u", "-P", "p", "-S", "h"}, {}, WithStandIn());
  const std::string error = windows ? "31" : "36";  // path too long
  EXPECT_EQ(r.exit_code, 1);
  const std::string failure = "\nError: Could not create the output log file. Error number :(" +
                              error + ").\n" + ReasonLine(r.out, "File name too long");
  EXPECT_EQ(r.out, Banner() + failure + kAbortOut);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(OnlyLog(dir()), failure + kAbortLog);
}

TEST_F(ImportE2eTest, FailedSqlPlusIsWarnedAboutAndTheRunGoesOn) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"3", "3"}, {"signal", E2eTarget::Get().windows ? "3" : "-15"}};
  for (const auto& [how, code] : cases) {
    SCOPED_TRACE(how);
    TempDir cwd;
    const fs::path out = cwd.path() / "out";
    WriteFile(out / "Output1.tvr", Script("one"));
    WriteFile(out / "Output2.tvr", Script("two"));
    E2eResult r = RunTavrin({"-l", "-I", "-o", Path(out), "-U", "u", "-P", "p", "-S", "h"},
                            cwd.path(), WithStandIn({{"TAVRIN_STAND_IN_EXIT", how}}));
    EXPECT_EQ(r.exit_code, 0);
    auto logs = OutputLogs(out);
    ASSERT_EQ(logs.size(), 2u);
    std::string out_text = Banner(), log_text;
    for (std::size_t i = 0; i < logs.size(); ++i) {
      const std::string name = "Output" + std::to_string(i + 1) + ".tvr";
      const std::string warning = "\n[ImportLogFiles] Warning: SQL*PLUS ended with exit code " +
                                  code + " for file " + name + ". Check its output log " +
                                  Path(out / logs[i].first) + ".\n";
      out_text += Importing(name) + warning;
      log_text += ImportingLog(name) + warning;
    }
    const std::string summary =
        "\n[ImportLogFiles] 2 of 2 scripts reported errors. Check their output logs.\n";
    out_text += summary;
    log_text += summary;
    EXPECT_EQ(MaskElapsed(r.out), out_text + "\nTime elapsed :N secs\n");
    EXPECT_EQ(OnlyLog(cwd.path()), log_text);
  }
}

TEST_F(ImportE2eTest, NothingToImportFailsTheRun) {
  struct Case {
    std::vector<std::string> args;
    std::string out, err, log;
  };
  const std::string empty = Path(dir() / "empty");
  const std::string missing = Path(dir() / "missing");
  fs::create_directory(dir() / "empty");
  WriteFile(dir() / "scripts" / "Output1.tvr", Script("one"));
  // The console runs the pattern straight on; the log puts a blank before it.
  const std::string kNoScripts =
      "\n[ImportLogFiles]Error: Unable to find import files in the directory";
  const std::string kNoLogin =
      "[ImportLogFiles] Error: UserName/Password not specified. Import abandoned...";
  const std::vector<Case> cases = {
      {{"-o", empty, "-U", "u", "-P", "p"},
       kAbortOut,
       kNoScripts + empty + Sep() + "*.tvr\n",
       kNoScripts + " " + empty + Sep() + "*.tvr" + kAbortLog},
      {{"-o", missing, "-U", "u", "-P", "p"},
       kAbortOut,
       kNoScripts + missing + Sep() + "*.tvr\n",
       kNoScripts + " " + missing + Sep() + "*.tvr" + kAbortLog},
      {{"-o", Path(dir() / "scripts")},
       "\n\n" + kNoLogin + "\n\n" + kAbortOut,
       "",
       "\n\n[ImportLogFiles]Error: UserName/Password not specified. Import abandoned...\n\n" +
           kAbortLog},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    TempDir cwd;
    std::vector<std::string> args = {"-l", "-I", "-S", "h"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    E2eResult r = RunTavrin(args, cwd.path(), WithStandIn());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, Banner() + c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(OnlyLog(cwd.path()), c.log);
  }
  EXPECT_TRUE(OutputLogs(dir() / "scripts").empty());
}

TEST_F(ImportE2eTest, ParseRunWithAnEmptyFileListSkipsTheImport) {
  WriteFile(dir() / "in" / "a.sql", "COLUMN identity_1 x\n");
  WriteFile(dir() / "out" / "Old.tvr", Script("left by an earlier run"));
  E2eResult r = RunTavrin({"-l", "-p", "-I", "-D", "x", "-i", Path(dir() / "in"), "-o",
                           Path(dir() / "out"), "-U", "u", "-P", "p", "-S", "h"},
                          {}, WithStandIn());
  EXPECT_EQ(r.exit_code, 0);
  const std::string warning =
      "\n\n[ImportLogFiles] Warning: Parse file list found empty. Skipped the Import...\n\n";
  EXPECT_TRUE(MaskElapsed(r.out).ends_with("Discarding Group Number:1\n\n" + warning +
                                           "\nTime elapsed :N secs\n"))
      << r.out;
  EXPECT_TRUE(OnlyLog(dir()).ends_with(warning));
  EXPECT_TRUE(OutputLogs(dir() / "out").empty());
}

}  // namespace
}  // namespace tavrin::test

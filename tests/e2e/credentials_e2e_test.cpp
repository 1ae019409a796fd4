// The password end to end: where it comes from, how it reaches the client,
// and that nobody else sees it. The stand-in sqlplus checks what it reads
// at its password prompt against TAVRIN_STAND_IN_PASSWORD.

#include "e2e/import_texts.h"
#include "e2e/stand_in.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

class CredentialsTest : public StandInTest {
 protected:
  void SetUp() override {
    WriteFile(out_ / "Output1.tvr", ExitScript("one"));
    WriteFile(out_ / "Output2.tvr", ExitScript("two"));
  }
  std::vector<std::string> Import(std::vector<std::string> credentials) {
    std::vector<std::string> args = {"-l", "-I", "-o", Path(out_), "-S", "orcl"};
    args.insert(args.end(), credentials.begin(), credentials.end());
    return args;
  }
  // What the stand-in printed before the script: its arguments and what it
  // made of the password.
  std::string LogonPart(const std::string& name, const std::string& login,
                        const std::string& password) {
    std::string text = StandInOutput(login, out_ / name, "", password);
    return text.substr(0, text.find("--- script ---"));
  }

  // Two fresh scripts, for the next case of a loop.
  void Reset() {
    fs::remove_all(out_);
    SetUp();
  }
  // The output logs of a run that imported both scripts and had nothing to
  // report.
  std::vector<std::pair<std::string, std::string>> CleanImportOfBoth(const E2eResult& r) {
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(MaskElapsed(r.out),
              Banner() + ImportingLine("Output1.tvr") + ImportingLine("Output2.tvr") + kElapsed);
    return OutputLogs(out_);
  }

  const fs::path out_ = dir() / "out";
};

TEST_F(CredentialsTest, PasswordIsInNoArgumentConsoleLineLogOrOutputLog) {
  const std::string secret = "S3cr3t-Pw";
  // Accepted, and refused (the client's messages then go through our reports).
  for (const char* expected : {"S3cr3t-Pw", "another"}) {
    SCOPED_TRACE(expected);
    TempDir cwd;
    Reset();
    E2eResult r = RunTavrin(Import({"-U", "scott", "-P", secret}), cwd.path(),
                            WithStandIn({{"TAVRIN_STAND_IN_PASSWORD", expected}}));
    EXPECT_EQ(r.exit_code, 0);
    const std::string verdict = expected == secret ? "matched" : "wrong";
    const auto logs = OutputLogs(out_);
    ASSERT_EQ(logs.size(), 2u);
    for (std::size_t i = 0; i < logs.size(); ++i) {
      const std::string name = "Output" + std::to_string(i + 1) + ".tvr";
      // The stand-in prints every argument it got: the password is in none.
      EXPECT_TRUE(logs[i].second.starts_with(LogonPart(name, "scott@orcl", verdict)))
          << logs[i].second;
      EXPECT_EQ(logs[i].second.find(secret), std::string::npos);
    }
    EXPECT_EQ(r.out.find(secret), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find(secret), std::string::npos) << r.err;
    EXPECT_EQ(OnlyLog(cwd.path()).find(secret), std::string::npos);
  }
}

TEST_F(CredentialsTest, EnvironmentGivesThePasswordWhenMinusPDoesNot) {
  struct Case {
    std::vector<std::string> credentials;
    std::string from_environment, reaches_client;
  };
  const std::vector<Case> cases = {
      {{"-U", "u"}, "from env", "from env"},
      {{"-U", "u", "-P", ""}, "from env", "from env"},
      {{"-U", "u", "-P", "typed"}, "from env", "typed"},  // -P wins
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reaches_client + " " + std::to_string(c.credentials.size()));
    TempDir cwd;
    Reset();
    E2eResult r = RunTavrin(Import(c.credentials), cwd.path(),
                            WithStandIn({{"TAVRIN_PASSWORD", c.from_environment},
                                         {"TAVRIN_STAND_IN_PASSWORD", c.reaches_client}}));
    const auto logs = CleanImportOfBoth(r);
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(logs[0].second,
              StandInOutput("u@orcl", out_ / "Output1.tvr", ExitScript("one"), "matched"));
  }

  // An empty variable is no password: the user alone is not enough.
  Reset();
  E2eResult r = RunTavrin(Import({"-U", "u"}), dir(), WithStandIn({{"TAVRIN_PASSWORD", ""}}));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "\n\n[Tavrin] Error: Invalid username/password specified.\n");
  EXPECT_TRUE(OutputLogs(out_).empty());
}

TEST_F(CredentialsTest, SlashLogsOnWithNoPasswordAndAnEmptyInput) {
  struct Case {
    std::vector<std::string> credentials;
    std::string login;
  };
  // A password in the environment is no reason to pipe one: the client would
  // read "from env" and show 9 bytes.
  const std::vector<Case> cases = {
      {{"-U", "/", "-S", "orcl"}, "/@orcl"},  // a wallet's entry
      {{"-U", "/"}, "/"},                     // the system's authentication
      {{"/U", "/", "-P", ""}, "/"},           // an empty -P is none
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.login + " " + std::to_string(c.credentials.size()));
    Reset();
    std::vector<std::string> args = {"-I", "-o", Path(out_)};
    args.insert(args.end(), c.credentials.begin(), c.credentials.end());
    // A client that read our console would wait on it for ever.
    E2eResult r = RunTavrinWithIdleConsole(args, dir(),
                                           WithStandIn({{"TAVRIN_PASSWORD", "from env"}}));
    const auto logs = CleanImportOfBoth(r);
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(logs[0].second, StandInOutput(c.login, out_ / "Output1.tvr", ExitScript("one")));
    EXPECT_EQ(logs[1].second, StandInOutput(c.login, out_ / "Output2.tvr", ExitScript("two")));
  }
}

TEST_F(CredentialsTest, RefusedLogonEndsTheClientWhileTheConsoleWaits) {
  E2eResult r = RunTavrinWithIdleConsole(
      Import({"-e", "-U", "scott", "-P", "wrong"}), dir(),
      WithStandIn({{"TAVRIN_STAND_IN_PASSWORD", "right"}}));
  EXPECT_EQ(r.exit_code, 2);
  const auto logs = OutputLogs(out_);
  ASSERT_EQ(logs.size(), 2u);
  std::string out = Banner(), log;
  for (std::size_t i = 0; i < logs.size(); ++i) {
    const std::string name = "Output" + std::to_string(i + 1) + ".tvr";
    const std::string output_log = Path(out_ / logs[i].first);
    const std::string reports =
        EndedWith(1, name, output_log) +
        ReportedErrors(2, name, "ORA-01017: invalid username/password; logon denied", output_log);
    out += ImportingLine(name) + reports;
    log += ImportingLogLine(name) + reports;
    // The client tried once, and never ran the script.
    EXPECT_EQ(logs[i].second,
              LogonPart(name, "scott@orcl", "wrong") +
                  AsStandInWrites("ERROR:\nORA-01017: invalid username/password; logon denied\n\n\n"
                          "SP2-0751: Unable to connect to Oracle.  Exiting SQL*Plus\n"));
  }
  EXPECT_EQ(MaskElapsed(r.out), out + Summary(2, 2) + kElapsed);
  EXPECT_EQ(OnlyLog(dir()), log + Summary(2, 2));
}

TEST_F(CredentialsTest, ClientThatReadsItsInputToTheEndAfterTheScriptEnds) {
  // As the client does at its prompt after a script: only end-of-input ends it.
  E2eResult r = RunTavrinWithIdleConsole(Import({"-U", "scott", "-P", "tiger"}), dir(),
                                         WithStandIn({{"TAVRIN_STAND_IN_PASSWORD", "tiger"},
                                                      {"TAVRIN_STAND_IN_READ_TO_END", "1"}}));
  const auto logs = CleanImportOfBoth(r);
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[1].second,
            StandInOutput("scott@orcl", out_ / "Output2.tvr", ExitScript("two"), "matched"));
}

TEST_F(CredentialsTest, ClientThatLeavesWithoutReadingGivesWayToTheNextScript) {
  // Longer than a pipe holds at once, as long as the environment can carry.
  const std::string password(E2eTarget::Get().windows ? 30000 : 100000, 'k');
  E2eResult r = RunTavrinWithIdleConsole(
      Import({"-U", "u"}), dir(),
      WithStandIn({{"TAVRIN_PASSWORD", password},
                   {"TAVRIN_STAND_IN_PASSWORD", password},
                   {"TAVRIN_STAND_IN_SHAPES", "Output1.tvr=leave"}}));
  const auto logs = CleanImportOfBoth(r);
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[0].second, AsStandInWrites("argv[0]=sqlplus\nargv[1]=-L\nargv[2]=u@orcl\nargv[3]=@" +
                                    Path(out_ / "Output1.tvr") + "\n"));
  EXPECT_EQ(logs[1].second,
            StandInOutput("u@orcl", out_ / "Output2.tvr", ExitScript("two"), "matched"));
}

TEST_F(CredentialsTest, OwnCommandLineShowsNoPasswordWhileTheClientRuns) {
  if (E2eTarget::Get().windows) GTEST_SKIP() << "a Windows command line cannot be rewritten";
  const std::string secret = "S3cr3t-Pw";
  const std::vector<std::vector<std::string>> forms = {
      {"-U", "u", "-P", secret}, {"-U", "u", "-P" + secret}, {"-U", "u", "-IP", secret}};
  for (const auto& form : forms) {
    SCOPED_TRACE(form[2]);
    TempDir cwd;
    Reset();
    const fs::path seen = cwd.path() / "cmdline";
    E2eResult r = RunTavrin(Import(form), cwd.path(),
                            WithStandIn({{"TAVRIN_STAND_IN_PASSWORD", secret},
                                         {"TAVRIN_STAND_IN_PARENT_CMDLINE", seen.string()}}));
    EXPECT_EQ(r.exit_code, 0);
    std::string cmdline = ReadFile(seen);
    std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
    EXPECT_NE(cmdline.find(" -o " + Path(out_)), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find(secret), std::string::npos) << cmdline;
    EXPECT_NE(cmdline.find("P" + std::string(form.size() == 4 ? " " : "") + "xxxxxxxxx "),
              std::string::npos)
        << cmdline;
    // The copy the run reads still has it: the client got it.
    EXPECT_NE(OutputLogs(out_).at(0).second.find("password=matched"), std::string::npos);
  }
}

}  // namespace
}  // namespace tavrin::test

// The driver end to end: options, checks, usage texts, log file and exit codes.

#include "e2e/harness.h"

namespace tavrin::test {
namespace {

const std::string kInvalidCount =
    "\n[Error] : Invalid number of arguments specified.Please check if you have provided either "
    "-p or -I switch and appropriate number of arguments. Process aborted.\n\n";

const std::string kFullUsageTail =
    "\n"
    "  -U\t User Name\n"
    "  -P\t Password\n"
    "  -S\t Host Identifier\n"
    "  -i\t Input directory for SQL Files\n"
    "  -o\t Output directory for SQL Files\n"
    "  -p\t Group and Parse SQL log files\n"
    "  -I\t Import generated log files data to SQL\n"
    "  -l\t Enable file logging\n"
    "  -e\t Exit with code 2 when an import or the backup reported errors\n"
    "  -m\t Move processed files to a backup directory\n"
    "  -D\t Leave the last group for the next run (takes one argument, not used)\n"
    "  -F\t Import scripts again that the import journal shows as imported\n"
    "  -R\t Write each group as one block, in the order of its log\n"
    "  -H\t Write scripts that record their import in the table TAVRIN_IMPORTS\n"
    "  -A\t Land each script whole or not at all; stop the import at the first that does not\n"
    "  -J\t Show what the import journal of -o holds (takes only -o and -l)\n"
    "  TAVRIN_PASSWORD\t Environment variable holding the password when -P is not given\n";

using DriverE2eTest = E2eTest;

TEST_F(DriverE2eTest, HelpPrintsFullUsageAndSucceeds) {
  E2eResult r = RunTavrin({"-h"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, Banner());
  EXPECT_EQ(r.err, ShortUsage() + kFullUsageTail);
  EXPECT_TRUE(LogFiles(dir()).empty());
}

TEST_F(DriverE2eTest, HelpWithLoggingOpensAnEmptyLogFile) {
  E2eResult r = RunTavrin({"-l", "-h"});
  EXPECT_EQ(r.exit_code, 0);
  auto logs = LogFiles(dir());
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs.begin()->second, "");
}

TEST_F(DriverE2eTest, TooFewArgumentsOrNoStageSwitch) {
  const std::vector<std::vector<std::string>> cases = {
      {"-p"},                      // a switch, but only two arguments in all
      {"-D", "-p", "-i", "dir"},   // -D takes -p as its argument
      {"-i", "-p"},                // -p is the input directory
      {"--", "-p", "-I"},          // scanning stops at --
      {"-", "-p", "-I"},           // and at -
      {"plain", "-p", "-I"},       // and at the first non-option
      {"-m", "-l"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.front());
    TempDir cwd;
    E2eResult r = RunTavrin(args, cwd.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, Banner() + kInvalidCount);
    EXPECT_EQ(r.err, ShortUsage());
  }
}

// The source path as the tree names it, wherever the binary was built.
TEST_F(DriverE2eTest, InvalidCountIsLoggedWithTheDriverSource) {
  E2eResult r = RunTavrin({"-l", "-m"});
  EXPECT_EQ(r.exit_code, 1);
  auto logs = LogFiles(dir());
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs.begin()->second,
            "[src/driver/driver.cpp] Invalid number of arguments specified. Please check if you have provided "
                "either -p or -I switch and appropriate number of arguments. Process aborted.\n");
}

TEST_F(DriverE2eTest, BadOptionsAreNamedBeforeTheShortUsage) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-x", "-p"}, "Unknown option -x."},
      {{"-pQsecret", "-I"}, "Unknown option -Q."},  // never the rest, which may be a password
      {{"/Q"}, "Unknown option /Q."},
      {{"-p\xc3\xa9"}, "Unknown option -\xc3\xa9."},  // a letter outside ASCII, whole
      {{"/", "-p"}, "Unknown option /."},
      {{"-p:", "-I"}, "Unknown option -:."},
      {{"--help"}, "Unknown option --help. Use -h."},
      {{"--password=secret", "-p"}, "Unknown option --password."},
      {{"-p", "-i"}, "Option -i needs a value."},
      {{"-pS"}, "Option -S needs a value."},
      {{"/D"}, "Option /D needs a value."},
  };
  for (const auto& [args, named] : cases) {
    SCOPED_TRACE(args.front());
    TempDir cwd;
    std::vector<std::string> logged = {"-l"};
    logged.insert(logged.end(), args.begin(), args.end());
    E2eResult r = RunTavrin(logged, cwd.path());
    const std::string line = "[Tavrin] Error: " + named + "\n";
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, Banner());
    EXPECT_EQ(r.err, line + ShortUsage());
    auto logs = LogFiles(cwd.path());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs.begin()->second, line);
  }
}

TEST_F(DriverE2eTest, MissingSettingsAreReportedInOrder) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
    std::string log;
  };
  const std::vector<Case> cases = {
      {{"-p", "-I"},
       "\n\n[Tavrin] Error: Grouping of files failed. Input directory not specified.\n",
       "\n\n[Tavrin] Error: Grouping of files failed. Input directory not specified.\n"},
      {{"/p", "/i", "in"},
       "\n\n[Tavrin] Error: Parsing of files failed. Output directory not specified.\n",
       "\n[Tavrin] Error: Parsing of files failed. Output directory not specified.\n"},
      {{"-I", "-U", "u"},
       "\n\n[Tavrin] Error: Unable to import files. No import directory specified.\n",
       "\n\n[Tavrin] Error: Unable to import files. No import directory specified.\n"},
      {{"-I", "-o", "out", "-Uuser"},
       "\n\n[Tavrin] Error: Invalid username/password specified.\n",
       "\n\n[Tavrin] Error: Invalid username/password specified.\n"},
      {{"-Io", "out", "-U", "u", "-P", "p"},
       "\n\n[Tavrin] Error: Oracle Host Identifier not specified.\n",
       "\n\n[Tavrin] Error: Oracle Host Identifier not specified.\n"},
      // An empty value, as an unset batch variable gives, is no value: never
      // the root directory.
      {{"-p", "-i", "", "-o", "out"},
       "\n\n[Tavrin] Error: Grouping of files failed. Input directory not specified.\n",
       "\n\n[Tavrin] Error: Grouping of files failed. Input directory not specified.\n"},
      {{"-p", "-i", "in", "-o", ""},
       "\n\n[Tavrin] Error: Parsing of files failed. Output directory not specified.\n",
       "\n[Tavrin] Error: Parsing of files failed. Output directory not specified.\n"},
      {{"-I", "-o", "", "-U", "u", "-P", "p", "-S", "orcl"},
       "\n\n[Tavrin] Error: Unable to import files. No import directory specified.\n",
       "\n\n[Tavrin] Error: Unable to import files. No import directory specified.\n"},
      {{"-I", "-o", "out", "-U", "", "-P", "p", "-S", "orcl"},
       "\n\n[Tavrin] Error: Invalid username/password specified.\n",
       "\n\n[Tavrin] Error: Invalid username/password specified.\n"},
      {{"-I", "-o", "out", "-U", "u", "-P", "p", "-S", ""},
       "\n\n[Tavrin] Error: Oracle Host Identifier not specified.\n",
       "\n\n[Tavrin] Error: Oracle Host Identifier not specified.\n"},
      // A password with -U /, found before any other setting is missed.
      {{"-I", "-U", "/", "-P", "p"},
       "\n\n[Tavrin] Error: -U / logs on without a password; leave out -P.\n",
       "\n\n[Tavrin] Error: -U / logs on without a password; leave out -P.\n"},
      {{"/p", "/U", "/", "/P", "p", "-o", "out"},
       "\n\n[Tavrin] Error: -U / logs on without a password; leave out -P.\n",
       "\n\n[Tavrin] Error: -U / logs on without a password; leave out -P.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    TempDir cwd;
    std::vector<std::string> args = {"-l"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    E2eResult r = RunTavrin(args, cwd.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, Banner());
    EXPECT_EQ(r.err, c.err);
    auto logs = LogFiles(cwd.path());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs.begin()->second, c.log);
  }
}

}  // namespace
}  // namespace tavrin::test

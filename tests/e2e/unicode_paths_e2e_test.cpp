// Any path the system can hold: input and output directories, input files
// and the backup's parent named in Cyrillic, in Japanese and with an emoji,
// paths of more than 300 characters, and a password outside ASCII. Under
// Wine the names reach tavrin.exe intact only in a UTF-8 locale, which the
// Wine leg sets.

#include "e2e/import_texts.h"
#include "e2e/stand_in.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

const fs::path kGolden = fs::path(TAVRIN_SOURCE_DIR) / "tests" / "e2e" / "golden" / "examples";

class AnyPathTest : public StandInTest {
 protected:
  // The example batch in `in`, each file's name after `prefix`.
  static void CopyExamples(const fs::path& in, const std::string& prefix) {
    fs::create_directories(in);
    for (const char* name : {"a.sql", "b.sql", "c.sql"})
      WriteFile(in / (prefix + name), ReadFile(fs::path(TAVRIN_EXAMPLES) / "batch" / name));
  }

  // Runs -p -I -m -l from `cwd` and checks what every such run must show:
  // the scripts as the Linux build writes them, each opened by the client,
  // and everything moved into one backup directory in `cwd`.
  void RunAndCheck(const fs::path& in, const fs::path& out, const fs::path& cwd,
                   const std::string& prefix, EnvVars env = {{"TAVRIN_STAND_IN_PASSWORD", "tiger"}},
                   std::vector<std::string> credentials = {"-P", "tiger"}) {
    std::vector<std::string> args = {"-p", "-I", "-m", "-l", "-i", Path(in), "-o", Path(out),
                                     "-U", "scott", "-S", "orcl"};
    args.insert(args.end(), credentials.begin(), credentials.end());
    E2eResult r = RunTavrin(args, cwd, WithStandIn(std::move(env)));
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;

    const auto backups = BackupDirectories(cwd);
    ASSERT_EQ(backups.size(), 1u);
    const fs::path moved_to = cwd / backups[0];
    const auto logs = OutputLogs(moved_to);
    ASSERT_EQ(logs.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      const std::string script = "Output" + std::to_string(i + 1) + ".tvr";
      SCOPED_TRACE(script);
      EXPECT_TRUE(ReadFile(moved_to / script) == ReadFile(kGolden / script))
          << "the script differs from the Linux build's";
      // The client read the password and then the whole script.
      const std::string& output_log = logs[i].second;
      EXPECT_NE(output_log.find("password=matched"), std::string::npos) << output_log;
      EXPECT_TRUE(output_log.ends_with(
          "--- script ---" + AsStandInWrites("\n" + ReadFile(kGolden / script))))
          << output_log;
    }
    for (const char* name : {"a.sql", "b.sql", "c.sql"}) {
      EXPECT_TRUE(fs::exists(moved_to / (prefix + name))) << prefix + name;
      EXPECT_FALSE(fs::exists(in / (prefix + name))) << prefix + name;
    }

    // The console and the log name the files and directories as typed.
    const std::string log = OnlyLog(cwd);
    for (const std::string& text :
         {"Grouping file:" + prefix + "a.sql\tGroup :1\n",
          "\tParsing file :" + prefix + "c.sql",
          "Creating output log:" + Path(out) + Sep() + "Output1.tvr\n",
          "\tMoved File :" + prefix + "b.sql to " + backups[0] + Sep() + "\n"}) {
      EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    }
    for (const std::string& text :
         {prefix + "a.sql", Path(out) + Sep() + "Output2.tvr", prefix + "c.sql to " + backups[0]})
      EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
  }
};

TEST_F(AnyPathTest, NamesInCyrillicJapaneseAndWithAnEmojiWorkEndToEnd) {
  const std::vector<std::string> names = {
      "\xd0\x96\xd1\x83\xd1\x80\xd0\xbd\xd0\xb0\xd0\xbb",  // Журнал
      "\xe6\x97\xa5\xe8\xaa\x8c \xe3\x83\x90\xe3\x83\x83\xe3\x83\x81",  // 日誌 バッチ
      "batch \xf0\x9f\x93\x81",  // an emoji, outside the Basic Multilingual Plane
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const fs::path base = dir() / name;
    const fs::path in = base / (name + " in"), out = base / (name + " out");
    const fs::path cwd = base / (name + " work");
    CopyExamples(in, name + "_");
    fs::create_directories(out);
    fs::create_directories(cwd);
    RunAndCheck(in, out, cwd, name + "_");
  }
}

TEST_F(AnyPathTest, InputAndOutputPathsOfMoreThan300Characters) {
  fs::path in = dir() / "deep", out = dir() / "deep";
  while (Path(in).size() <= 300) {
    in /= std::string(50, 'i');
    out /= std::string(50, 'o');
  }
  in /= "in";
  out /= "out";
  ASSERT_GT(Path(in).size(), 300u);
  CopyExamples(in, "");
  fs::create_directories(out);
  const fs::path cwd = dir() / "w";  // short
  fs::create_directories(cwd);
  RunAndCheck(in, out, cwd, "");
}

TEST_F(AnyPathTest, PasswordOutsideAsciiReachesTheClientFromEitherSource) {
  // The stand-in reads its expected password from its environment and the
  // password from its input, both as a program of the legacy code page
  // does: they match only when Tavrin writes that code page's bytes.
  const std::string password = "tigr\xc3\xa9-\xc3\xa4";  // é and ä
  struct Case {
    std::string name;
    EnvVars env;
    std::vector<std::string> credentials;
  };
  const std::vector<Case> cases = {
      {"minus-P", {{"TAVRIN_STAND_IN_PASSWORD", password}}, {"-P", password}},
      {"environment",
       {{"TAVRIN_STAND_IN_PASSWORD", password}, {"TAVRIN_PASSWORD", password}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path base = dir() / c.name;
    CopyExamples(base / "in", "");
    fs::create_directories(base / "out");
    fs::create_directories(base / "work");
    RunAndCheck(base / "in", base / "out", base / "work", "", c.env, c.credentials);
  }
}

}  // namespace
}  // namespace tavrin::test

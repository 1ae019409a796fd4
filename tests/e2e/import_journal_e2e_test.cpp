// The import journal end to end: a run that was stopped never imports a
// script twice, with the stand-in sqlplus recording what reached it.

#include <algorithm>
#include <regex>

#include "e2e/import_texts.h"
#include "e2e/stand_in.h"
#include "import/sha256.h"
#include "platform/env.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

class ImportJournalTest : public BatchFoldersTest {
 protected:
  E2eResult Run(std::vector<std::string> switches, EnvVars env = {}) {
    switches.insert(switches.end(), {"-i", Path(in_), "-o", Path(out_), "-U", "u", "-P", "p",
                                     "-S", "h"});
    return RunTavrin(switches, work_, WithStandIn(std::move(env)));
  }

  // One input file, and so one group and one script, per label.
  void WriteGroups(const std::vector<std::string>& labels) const {
    for (std::size_t i = 0; i < labels.size(); ++i)
      WriteFile(in_ / ("g" + std::to_string(i + 1) + ".sql"), "COLUMN identity_1 " + labels[i] + "\n");
  }

  static std::string Hash(const fs::path& file) {
    std::string hex;
    EXPECT_TRUE(HashFile(*Env::Default(), file.string(), &hex)) << file;
    return hex;
  }

  std::string Journal() const { return ReadFile(out_ / kJournalName); }

  // The time of `name`'s last ended line in the journal.
  std::string EndedAt(const std::string& name) const {
    const std::string journal = Journal();
    std::string time;
    const std::regex ended("ended (\\S+) " + name + "\n");
    for (std::sregex_iterator it(journal.begin(), journal.end(), ended), end; it != end; ++it)
      time = (*it)[1];
    return time;
  }

  // Output logs in `where`, "_2" and "_3" ones of the same second included.
  static std::size_t OutputLogCount(const fs::path& where) {
    const auto names = Entries(where);
    return std::count_if(names.begin(), names.end(),
                         [](const std::string& name) { return name.ends_with(".olog"); });
  }

  // How often each script's bytes reached the stand-in, by the record.
  static int TimesSeen(const std::string& record, const std::string& script,
                       const std::string& name) {
    const std::string entry = script + "--- end of " + name + " ---\n";
    int count = 0;
    for (std::size_t at = record.find(entry); at != std::string::npos;
         at = record.find(entry, at + 1))
      ++count;
    return count;
  }

  // A -p -I -m run killed while the stand-in holds the script `held`; the
  // stand-in then runs it to its end, as a database session would. `record`
  // gets what the client was handed.
  E2eResult RunKilledDuring(const std::string& held, const fs::path& record) {
    const fs::path pipes = dir() / "pipes";
    fs::create_directory(pipes);
    // $1: the pipes' directory; then the program and its arguments. Every
    // step waits on the one before it through the named pipes, never on time.
    // The held pipe stays open for reading and writing on fd 3 throughout: a
    // read opened anew could meet the last writer just before it closes and
    // see the end of the pipe instead of the next line.
    const std::string script = R"sh(
      pipes=$1; shift
      mkfifo "$pipes/held" "$pipes/release" || exit 1
      exec 3<>"$pipes/held"
      ( sh -c 'echo $$ > "$0/pid"; exec "$@"' "$pipes" "$@" 3>&-; echo "exit $?" >&3 ) &
      read what <&3; echo "first: $what"
      if [ "$what" = held ]; then
        kill -KILL "$(cat "$pipes/pid")"
        read what <&3; echo "then: $what"
        echo go > "$pipes/release"
        read what <&3; echo "last: $what"
      fi
      wait
    )sh";
    E2eTarget killer;
    killer.launcher = {"/bin/sh", "-c", script, "sh", pipes.string()};
    killer.binary = E2eTarget::Get().binary;
    const EnvVars holding = {{"TAVRIN_STAND_IN_RECORD", record.string()},
                             {"TAVRIN_STAND_IN_HOLD", held},
                             {"TAVRIN_STAND_IN_PIPES", pipes.string()}};
    return RunTarget(killer, {"-p", "-I", "-m", "-i", in_.string(), "-o", out_.string(), "-U",
                              "u", "-P", "p", "-S", "h"},
                     work_, WithStandIn(holding));
  }
};

TEST_F(ImportJournalTest, StoppedRunImportsOnlyWhatItHadNotStarted) {
  WriteGroups({"a", "b", "c", "d"});
  ASSERT_EQ(Run({"-p"}).exit_code, 0);
  // As a run stopped during the second script leaves it.
  const std::string journal =
      Hash(out_ / "Output1.tvr") + " started 2026-12-01T10:15:30Z Output1.tvr\n" +
      Hash(out_ / "Output1.tvr") + " ended 2026-12-01T10:15:31Z Output1.tvr\n" +
      Hash(out_ / "Output2.tvr") + " started 2026-12-01T10:15:31Z Output2.tvr\n";

  for (bool e : {false, true}) {
    SCOPED_TRACE(e ? "-e" : "no -e");
    WriteFile(out_ / kJournalName, journal);
    for (const auto& entry : fs::directory_iterator(work_)) fs::remove_all(entry.path());
    E2eResult r = Run({"-l", e ? "-pIe" : "-pI"});
    EXPECT_EQ(r.exit_code, e ? 2 : 0);
    // The run's copies find the untagged lines of an earlier version by order.
    const std::string lines = ImportedNotice("Output1.tvr", "2026-12-01T10:15:31Z", "g1.sql") +
                              CutShortWarning("Output2.tvr", "g2.sql");
    EXPECT_TRUE(MaskElapsed(r.out).ends_with(lines + ImportingLine("Output3.tvr") +
                                             ImportingLine("Output4.tvr") + Summary(1, 4) +
                                             kElapsed))
        << r.out;
    EXPECT_TRUE(OnlyLog(work_).ends_with(lines + ImportingLogLine("Output3.tvr") +
                                         ImportingLogLine("Output4.tvr") + Summary(1, 4)))
        << OnlyLog(work_);
  }
  // Each imported script has its started and ended line, after the old ones.
  const std::string after = Journal();
  ASSERT_TRUE(after.starts_with(journal));
  const std::regex line("[0-9a-f]{64} (started|ended) \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ "
                        "group=[0-9a-f]{16} (log=import[12]_\\S+\\.olog first=[0-9a-f]{16} )?"
                        "Output[34]\\.tvr\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(after.begin() + journal.size(), after.end(), line),
                          std::sregex_iterator()),
            4);
}

TEST_F(ImportJournalTest, SecondImportSkipsEverythingAndForceImportsAgain) {
  // The two scripts differ in one byte: both are imported.
  WriteFile(out_ / "Output1.tvr", ExitScript("1"));
  WriteFile(out_ / "Output2.tvr", ExitScript("2"));
  E2eResult first = Run({"-Ie"});
  EXPECT_EQ(first.exit_code, 0);
  EXPECT_EQ(OutputLogCount(out_), 2u);

  // Again: nothing is imported, and that is no error.
  E2eResult second = Run({"-Ie"});
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_EQ(OutputLogCount(out_), 2u);
  EXPECT_EQ(MaskElapsed(second.out), Banner() +
                                         ImportedNotice("Output1.tvr", EndedAt("Output1.tvr")) +
                                         ImportedNotice("Output2.tvr", EndedAt("Output2.tvr")) +
                                         kElapsed);
  const std::string journal = Journal();

  // A crash tore the journal's last line: it is named once and ignored, and
  // -F imports both scripts again.
  WriteFile(out_ / kJournalName, journal + journal.substr(0, 70));
  E2eResult forced = Run({"-l", "-IF"});
  EXPECT_EQ(forced.exit_code, 0);
  const std::string torn = "\n[ImportLogFiles] Warning: 1 line(s) of the import journal " +
                           Path(out_ / kJournalName) +
                           " could not be read. They are ignored; a last line cut short is "
                           "removed.\n";
  EXPECT_TRUE(MaskElapsed(forced.out).ends_with(torn + ImportingLine("Output1.tvr") +
                                                ImportingLine("Output2.tvr") + kElapsed))
      << forced.out;
  EXPECT_EQ(OnlyLog(work_), torn + ImportingLogLine("Output1.tvr") + ImportingLogLine("Output2.tvr"));
  EXPECT_EQ(OutputLogCount(out_), 4u);
  // The torn line was removed before the new lines: they are whole.
  const std::string after = Journal();
  EXPECT_EQ(after.substr(0, journal.size()), journal);
  EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 8);
}

TEST_F(ImportJournalTest, JournalThatCannotBeWrittenAbandonsTheImport) {
  WriteFile(out_ / "Output1.tvr", ExitScript("1"));
  fs::create_directory(out_ / kJournalName);
  E2eResult r = Run({"-l", "-I"});
  EXPECT_EQ(r.exit_code, 1);
  const std::string start =
      "\n[ImportLogFiles] Error: Unable to write the import journal " + Path(out_ / kJournalName) + ". ";
  EXPECT_TRUE(r.err.starts_with(start)) << r.err;
  EXPECT_TRUE(r.err.ends_with(". Import abandoned.\n")) << r.err;
  if (!E2eTarget::Get().windows) {
    EXPECT_EQ(r.err, start + "Is a directory. Import abandoned.\n");
  }
  EXPECT_EQ(r.out, Banner() + "\n[Tavrin]Error: Unable to import SQL log files. Process will be aborted\n");
  EXPECT_TRUE(OnlyLog(work_).starts_with(r.err)) << OnlyLog(work_);
  EXPECT_TRUE(OutputLogs(out_).empty());
}

TEST_F(ImportJournalTest, SqlPlusThatCouldNotStartLeavesTheScriptToImport) {
  WriteFile(out_ / "Output1.tvr", ExitScript("1"));
  fs::create_directory(dir() / "empty");
  E2eResult missing = RunTavrin({"-I", "-o", Path(out_), "-U", "u", "-P", "p", "-S", "h"}, work_,
                                WithoutSqlPlus(dir() / "empty"));
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(Journal(), "");
  E2eResult found = Run({"-Ie"});
  EXPECT_EQ(found.exit_code, 0);
  EXPECT_EQ(MaskElapsed(found.out), Banner() + ImportingLine("Output1.tvr") + kElapsed);
}

TEST_F(ImportJournalTest, FullRunsLeaveAnEmptyJournalAndTheSameBatchLaterIsImportedAgain) {
  const fs::path record = dir() / "record";
  std::vector<std::string> scripts;
  for (int batch = 1; batch <= 2; ++batch) {
    SCOPED_TRACE("batch " + std::to_string(batch));
    WriteGroups({"a", "b"});  // byte for byte the same batch both times
    E2eResult r = Run({"-pIme"}, {{"TAVRIN_STAND_IN_RECORD", Path(record)}});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(MaskElapsed(r.out).find(ImportingLine("Output1.tvr") + ImportingLine("Output2.tvr")),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(Entries(in_).empty());
    EXPECT_EQ(Entries(out_), std::vector<std::string>{kJournalName});
    EXPECT_EQ(Journal(), "");
    // The second may be "Processed_..._2", made in the same second.
    const auto backups = Entries(work_);
    ASSERT_EQ(backups.size(), static_cast<std::size_t>(batch));
    if (batch == 1)
      for (const char* name : {"Output1.tvr", "Output2.tvr"})
        scripts.push_back(ReadFile(work_ / backups[0] / name));
  }
  const std::string seen = ReadFile(record);
  EXPECT_EQ(TimesSeen(seen, scripts[0], "Output1.tvr"), 2);
  EXPECT_EQ(TimesSeen(seen, scripts[1], "Output2.tvr"), 2);
}

// A real kill: the stand-in holds the second script while Tavrin is killed,
// then runs to its end, as a database session would.
TEST_F(ImportJournalTest, RunKilledDuringTheSecondScriptNeverImportsAScriptTwice) {
  if (E2eTarget::Get().windows) GTEST_SKIP() << "SIGKILL: Linux only";
  WriteGroups({"a", "b", "c", "d"});
  const fs::path record = dir() / "record";
  const EnvVars env = {{"TAVRIN_STAND_IN_RECORD", record.string()}};
  E2eResult killed = RunKilledDuring("Output2.tvr", record);
  EXPECT_TRUE(killed.out.ends_with(ImportingLine("Output2.tvr") +
                                   "first: held\nthen: exit 137\nlast: ended\n"))
      << killed.out;
  // The started line was on the disk before the client began.
  const std::string h1 = Hash(out_ / "Output1.tvr"), h2 = Hash(out_ / "Output2.tvr");
  const std::regex journal(h1 + " started \\S+ group=\\S+ log=import1_\\S+ first=\\S+ Output1.tvr\n" +
                           h1 + " ended \\S+ group=\\S+ Output1.tvr\n" + h2 +
                           " started \\S+ group=\\S+ log=import2_\\S+ first=\\S+ Output2.tvr\n");
  EXPECT_TRUE(std::regex_match(Journal(), journal)) << Journal();
  EXPECT_EQ(Entries(in_).size(), 4u);
  EXPECT_TRUE(BackupDirectories(work_).empty());

  E2eResult again = Run({"-l", "-pIme"}, env);
  EXPECT_EQ(again.exit_code, 2);  // the cut-short script counts as an error
  EXPECT_NE(again.out.find(CutShortWarning("Output2.tvr", "g2.sql") + ImportingLine("Output3.tvr") +
                           ImportingLine("Output4.tvr")),
            std::string::npos)
      << again.out;
  EXPECT_NE(again.out.find("Notice: Output1.tvr (from g1.sql) was imported on"), std::string::npos);
  // The backup still moves every file, and the journal is left empty.
  const auto backups = BackupDirectories(work_);
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_TRUE(Entries(in_).empty());
  EXPECT_EQ(Entries(out_), std::vector<std::string>{kJournalName});
  EXPECT_EQ(Journal(), "");
  // Over both runs the client saw each script's bytes exactly once.
  const std::string seen = ReadFile(record);
  for (int i = 1; i <= 4; ++i) {
    const std::string name = "Output" + std::to_string(i) + ".tvr";
    EXPECT_EQ(TimesSeen(seen, ReadFile(work_ / backups[0] / name), name), 1) << name;
  }
  // Both runs' output logs went along: two from each.
  EXPECT_EQ(OutputLogCount(work_ / backups[0]), 4u);
}

// Twelve groups whose scripts are byte for byte the same are twelve
// transactions. A kill during the sixth, and a thirteenth copy that arrives
// before the retry and sorts first: every copy reaches the client once.
TEST_F(ImportJournalTest, IdenticalGroupsAreImportedOnceEachAcrossAKillAndANewArrival) {
  if (E2eTarget::Get().windows) GTEST_SKIP() << "SIGKILL: Linux only";
  WriteGroups(std::vector<std::string>(12, "same"));  // g1, g10, g11, g12, g2, ... g9
  const fs::path record = dir() / "record";
  const E2eResult killed = RunKilledDuring("Output6.tvr", record);
  // Whether the held client got to its end is the database's affair: the
  // sixth copy lands at most once.
  EXPECT_NE(killed.out.find(ImportingLine("Output6.tvr") + "first: held\nthen: exit 137\n"),
            std::string::npos)
      << killed.out;

  WriteFile(in_ / "g0.sql", "COLUMN identity_1 same\n");
  const E2eResult again = Run({"-pIme"}, {{"TAVRIN_STAND_IN_RECORD", record.string()}});
  EXPECT_EQ(again.exit_code, 2);  // the copy cut short
  const std::vector<std::string> before = {"g1.sql", "g10.sql", "g11.sql", "g12.sql", "g2.sql"};
  EXPECT_NE(again.out.find(ImportingLine("Output1.tvr")), std::string::npos) << again.out;
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_NE(again.out.find("Notice: " + Copy("Output" + std::to_string(i + 2) + ".tvr", before[i]) +
                             " was imported on "),
              std::string::npos)
        << again.out;
  EXPECT_NE(again.out.find(CutShortWarning("Output7.tvr", "g3.sql")), std::string::npos)
      << again.out;
  for (int i = 8; i <= 13; ++i)
    EXPECT_NE(again.out.find(ImportingLine("Output" + std::to_string(i) + ".tvr")),
              std::string::npos)
        << again.out;
  // Five before the kill, the held sixth at most once, the new one and six
  // after: twelve or thirteen, none twice.
  const std::string seen = ReadFile(record);
  std::size_t handed = 0;
  for (std::size_t at = seen.find("--- end of "); at != std::string::npos;
       at = seen.find("--- end of ", at + 1))
    ++handed;
  EXPECT_GE(handed, 12u);
  EXPECT_LE(handed, 13u);
  EXPECT_EQ(Journal(), "");
}

}  // namespace
}  // namespace tavrin::test

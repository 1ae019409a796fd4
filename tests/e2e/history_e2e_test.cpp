// The import history end to end: scripts written with -H record their import
// in the database, and a script that a stopped run cut short is resolved by
// asking the database, here the stand-in sqlplus answering its probe from a
// file the test writes.

#include <regex>

#include "e2e/import_texts.h"
#include "e2e/stand_in.h"
#include "import/group_tags.h"
#include "import/sha256.h"
#include "platform/env.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

const std::string kHistoryLines =
    "SET AUTOCOMMIT OFF\r\nSET DEFINE ON\r\nWHENEVER SQLERROR EXIT FAILURE ROLLBACK\r\n"
    "INSERT INTO TAVRIN_IMPORTS(IMPORT_ID, SCRIPT_NAME) VALUES ('&1', '&2');\r\n"
    "WHENEVER SQLERROR CONTINUE NONE\r\n";
const std::string kOldId = "0123456789abcdef0123456789abcdef";
const std::string kOtherId = "fedcba9876543210fedcba9876543210";

std::string CommittedNotice(const std::string& name) {
  return "\n[ImportLogFiles] Notice: " + name +
         " was imported before an earlier run stopped (the database's history shows it); "
         "skipped.\n";
}
std::string AgainNotice(const std::string& name) {
  return "\n[ImportLogFiles] Notice: " + name +
         " was cut short by an earlier run and the database holds none of it; importing it "
         "again.\n";
}

class HistoryTest : public BatchFoldersTest {
 protected:
  // With the history answering from history_ when `usable`.
  E2eResult Run(std::vector<std::string> switches, bool usable = true) {
    switches.insert(switches.end(), {"-i", Path(in_), "-o", Path(out_), "-U", "u", "-P", "p",
                                     "-S", "h"});
    EnvVars env = {{"TAVRIN_STAND_IN_RECORD", Path(record_)}};
    if (usable) env.emplace_back("TAVRIN_STAND_IN_HISTORY", Path(history_));
    return RunTavrin(switches, work_, WithStandIn(std::move(env)));
  }

  void WriteGroup(int number, const std::string& lines) const {
    WriteFile(in_ / ("g" + std::to_string(number) + ".sql"),
              "COLUMN identity_1 NEW_VALUE identity_1\n" + lines);
  }

  std::string Hash(const std::string& name) const {
    std::string hex;
    EXPECT_TRUE(HashFile(*Env::Default(), (out_ / name).string(), &hex)) << name;
    return hex;
  }

  std::string Journal() const { return ReadFile(out_ / kJournalName); }

  // The import ids the journal's started lines hold, in order.
  std::vector<std::string> StartedIds() const {
    const std::string journal = Journal();
    std::vector<std::string> ids;
    const std::regex started(" started \\S+ (?:group=\\S+ )?id=([0-9a-f]{32}) ");
    for (std::sregex_iterator it(journal.begin(), journal.end(), started), end; it != end; ++it)
      ids.push_back((*it)[1]);
    return ids;
  }

  // How many output logs of each kind `out_` holds.
  std::size_t Logs(const std::string& prefix) const {
    std::size_t count = 0;
    for (const std::string& name : Entries(out_))
      count += name.starts_with(prefix) && name.ends_with(".olog");
    return count;
  }

  const fs::path record_ = dir() / "record";
  const fs::path history_ = dir() / "history";
};

TEST_F(HistoryTest, HistoryScriptsRecordTheirImportUnderAnIdOfTheirOwn) {
  WriteGroup(1, "INSERT INTO t(a) VALUES (1);\n");
  WriteGroup(2, "INSERT INTO t(a) VALUES (2);\ncommit;\n");
  ASSERT_EQ(Run({"-p"}).exit_code, 0);
  const std::string plain1 = ReadFile(out_ / "Output1.tvr");
  const std::string plain2 = ReadFile(out_ / "Output2.tvr");
  WriteFile(history_, "");

  E2eResult r = Run({"-pIHe"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  // The lines stand right after the first; the COMMIT makes the second not atomic.
  const std::string first = "SET VERIFY OFF\r\n";
  EXPECT_EQ(ReadFile(out_ / "Output1.tvr"), first + kHistoryLines + plain1.substr(first.size()));
  EXPECT_EQ(ReadFile(out_ / "Output2.tvr"),
            first + "-- not atomic\r\n" + kHistoryLines + plain2.substr(first.size()));

  // One probe before the first script, its log kept and its script removed.
  const std::vector<std::string> ids = StartedIds();
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_EQ(Logs("history_"), 1u);
  EXPECT_EQ(Logs("import"), 2u);
  EXPECT_FALSE(fs::exists(out_ / "tavrin-history.probe"));
  const std::string probed = ReadFile(history_);
  EXPECT_EQ(std::count(probed.begin(), probed.end(), '\n'), 1) << probed;
  EXPECT_EQ(probed.find(ids[0]), std::string::npos);

  // Each client got its id and its name; its ended line closes its id.
  const auto logs = OutputLogs(out_);
  ASSERT_EQ(logs.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const std::string name = "Output" + std::to_string(i + 1) + ".tvr";
    EXPECT_NE(logs[i].second.find(AsStandInWrites("argv[4]=" + ids[i] + "\nargv[5]=" + name + "\n")),
              std::string::npos)
        << logs[i].second;
    EXPECT_NE(Journal().find(" ended "), std::string::npos);
  }
  std::smatch ended;
  const std::string journal = Journal();
  EXPECT_TRUE(std::regex_search(journal, ended, std::regex(" ended \\S+ group=\\S+ id=" + ids[1] +
                                                           " Output2.tvr\n")))
      << journal;
}

TEST_F(HistoryTest, AHistoryThatCannotBeUsedStopsTheImportBeforeItsFirstScript) {
  WriteGroup(1, "INSERT INTO t(a) VALUES (1);\n");
  E2eResult r = Run({"-pIH"}, /*usable=*/false);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(Logs("import"), 0u);
  ASSERT_EQ(Logs("history_"), 1u);
  std::string history_log;
  for (const std::string& name : Entries(out_))
    if (name.starts_with("history_")) history_log = Path(out_ / name);
  // The client's standard error comes first.
  EXPECT_TRUE(r.err.ends_with(
      "\n[ImportLogFiles] Error: The import history TAVRIN_IMPORTS cannot be used (see " +
      history_log + "). Import abandoned.\n"))
      << r.err;
  EXPECT_EQ(ReadFile(record_).find("Output1.tvr"), std::string::npos);
  EXPECT_EQ(Journal(), "");
}

TEST_F(HistoryTest, CutShortHistoryScriptsAreResolvedWithoutAnOperator) {
  WriteGroup(1, "INSERT INTO t(a) VALUES (1);\n");
  WriteGroup(2, "INSERT INTO t(a) VALUES (2);\n");
  WriteGroup(3, "INSERT INTO t(a) VALUES (3);\nCOMMIT;\n");
  ASSERT_EQ(Run({"-pH"}).exit_code, 0);
  // An earlier -I run was stopped during each: the database committed the
  // first, holds nothing of the second, and the third is not atomic.
  const std::string journal = Hash("Output1.tvr") + " started 2026-01-01T10:00:00Z id=" + kOldId +
                              " Output1.tvr\n" + Hash("Output2.tvr") +
                              " started 2026-01-01T10:00:01Z id=" + kOtherId + " Output2.tvr\n" +
                              Hash("Output3.tvr") + " started 2026-01-01T10:00:02Z id=" +
                              std::string(32, 'c') + " Output3.tvr\n";
  WriteFile(out_ / kJournalName, journal);
  WriteFile(history_, kOldId + " 1\n" + kOtherId + " 0\n");

  // Without -H: history scripts are known by their lines.
  E2eResult r = Run({"-Ie"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(MaskElapsed(r.out), Banner() + CommittedNotice("Output1.tvr") +
                                    AgainNotice("Output2.tvr") + ImportingLine("Output2.tvr") +
                                    CutShortWarning("Output3.tvr") + Summary(1, 3) + kElapsed);
  const std::string record = ReadFile(record_);
  EXPECT_EQ(record.find("--- end of Output1.tvr"), std::string::npos);
  EXPECT_NE(record.find("--- end of Output2.tvr"), std::string::npos);
  EXPECT_EQ(record.find("--- end of Output3.tvr"), std::string::npos);
  EXPECT_EQ(Logs("history_"), 2u);  // one probe each; the answer proved the table

  // The recovery lines close the old ids; the new import has an id of its own.
  const std::string after = Journal();
  ASSERT_TRUE(after.starts_with(journal));
  const std::string added = after.substr(journal.size());
  const std::regex lines(Hash("Output1.tvr") + " ended \\S+ id=" + kOldId + " Output1.tvr\n" +
                         Hash("Output2.tvr") + " undone \\S+ id=" + kOtherId + " Output2.tvr\n" +
                         Hash("Output2.tvr") + " started \\S+ id=([0-9a-f]{32}) log=\\S+ Output2.tvr\n" +
                         Hash("Output2.tvr") + " ended \\S+ id=([0-9a-f]{32}) Output2.tvr\n");
  std::smatch ids;
  ASSERT_TRUE(std::regex_match(added, ids, lines)) << added;
  EXPECT_EQ(ids[1], ids[2]);
  EXPECT_NE(ids[1], kOtherId);

  // Again: everything is settled but the script that is not atomic.
  E2eResult again = Run({"-Ie"});
  EXPECT_EQ(again.exit_code, 2);
  EXPECT_EQ(ReadFile(record_), record);
  EXPECT_NE(again.out.find(CutShortWarning("Output3.tvr")), std::string::npos);
}

// A -pIH run was stopped in each group; the retry has other switches, so
// its scripts are other bytes. Whatever its switches, the probe settles each
// import that has an id, and one it finds committed has its output log read.
TEST_F(HistoryTest, AnOpenImportOfOtherBytesIsSettledAndACommittedOnesErrorsAreReported) {
  for (int group = 1; group <= 3; ++group)
    WriteGroup(group, "INSERT INTO t(a) VALUES (" + std::to_string(group) + ");\n");
  ASSERT_EQ(Run({"-pH"}).exit_code, 0);
  const std::string log = "import1_2026_01_01_10_00_00.olog";
  const auto started = [&](int group, const std::string& fields) {
    const std::string name = "Output" + std::to_string(group) + ".tvr";
    const std::string file = "g" + std::to_string(group) + ".sql";
    return Hash(name) + " started 2026-01-01T10:00:00Z group=" +
           GroupTags({{file, 1}}).at(1).tag + " " + fields + name + "\n";
  };
  WriteFile(out_ / kJournalName, started(1, "id=" + kOldId + " log=" + log + " ") +
                                     started(2, "id=" + kOtherId + " ") + started(3, ""));
  WriteFile(out_ / log, "ERROR at line 1:\nORA-00001: unique constraint (T.PK) violated\n");
  WriteFile(history_, kOldId + " 1\n" + kOtherId + " 0\n");

  E2eResult r = Run({"-pIe"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(MaskElapsed(r.out).substr(r.out.find("\n[ImportLogFiles]")),
            "\n[ImportLogFiles] Warning: Output1.tvr (from g1.sql) was imported before as other "
            "bytes; skipped. Use -F to import it again.\n" +
                ReportedErrors(1, "Output1.tvr", "ORA-00001: unique constraint (T.PK) violated",
                               Path(out_ / log)) +
                AgainNotice("Output2.tvr (from g2.sql)") + ImportingLine("Output2.tvr") +
                "\n[ImportLogFiles] Warning: Output3.tvr (from g3.sql) was being imported as "
                "other bytes when an earlier run stopped; it may be partly in the database. "
                "Skipped: check the database (see the README, After a stopped run).\n" +
                Summary(2, 3) + kElapsed);
  const std::string record = ReadFile(record_);
  EXPECT_EQ(record.find("--- end of Output1.tvr"), std::string::npos);
  EXPECT_NE(record.find("--- end of Output2.tvr"), std::string::npos);
  EXPECT_EQ(record.find("--- end of Output3.tvr"), std::string::npos);
  // The old imports are closed under their own bytes, group and id.
  const std::string journal = Journal();
  EXPECT_NE(journal.find(" ended "), std::string::npos);
  const std::regex closed(" (ended|undone) \\S+ group=[0-9a-f]{16} id=(" + kOldId + "|" +
                          kOtherId + ") Output[12].tvr\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(journal.begin(), journal.end(), closed),
                          std::sregex_iterator()),
            2)
      << journal;
}

}  // namespace
}  // namespace tavrin::test

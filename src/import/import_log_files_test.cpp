// The import stage in-process, with sqlplus and the clock faked.

#include "import/import_log_files.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "import/backup_record.h"
#include "import/group_tags.h"
#include "import/import_history.h"
#include "import/import_journal.h"
#include "import/sha256.h"
#include "platform/path.h"
#include "script/script_writer.h"
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
    auto file = EnvWrapper::CreateNewOutput(path, exists);
    if (file && fail_output_log_close) return std::make_unique<FailingClose>(std::move(file));
    return file;
  }
  bool RunChild(const ChildCommand& command, ChildExit* exit) override {
    *exit = {};
    if (command.argv[3].ends_with(kProbeScriptName))  // the history's probe
      return command.stdout_file->Append(probe_printed);
    runs.push_back(command.argv);
    inputs.push_back(command.stdin_text.value_or("(console)"));
    command.stdout_file->Append(printed);
    *exit = {};
    return true;
  }
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
    if (refuse_output_logs && path.ends_with(".olog")) return Fail(13), nullptr;
    if (path.ends_with(".tvr")) ++script_reads[path];
    return EnvWrapper::OpenForReading(path);
  }
  std::unique_ptr<OutputFile> OpenForAppending(const std::string& path) override {
    if (refuse_journal) return Fail(13), nullptr;
    return sync.Wrap(EnvWrapper::OpenForAppending(path));
  }
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override {
    return sync.Wrap(EnvWrapper::CreateOutput(path));
  }
  bool ClientPath(const std::string& path, std::string* passable) override {
    if (path.ends_with(unpassable)) return false;
    *passable = path.ends_with(shortened) ? "SHORT~1.TVR" : path;
    return true;
  }

  // A file whose last bytes the system reports lost when it is closed.
  struct FailingClose : test::OutputFileWrapper {
    using OutputFileWrapper::OutputFileWrapper;
    bool Close() override { return OutputFileWrapper::Close() && false; }
  };

  int creates = 0;
  int refuse_create = 0;
  bool fail_output_log_close = false;
  bool refuse_output_logs = false;
  bool refuse_journal = false;
  test::SyncCounter sync;
  std::string printed = "ran\n";  // what each sqlplus run prints
  std::string probe_printed;       // what each probe prints: no answer
  std::vector<std::vector<std::string>> runs;
  std::vector<std::string> inputs;  // what each run was given to read
  std::map<std::string, int> script_reads;  // opens of each script
  std::string unpassable = "\n";   // scripts the client cannot be given
  std::string shortened = "\n";    // scripts it gets under a short name
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
  WriteFile(dir.path() / "Output1.tvr", "-- 1\nEXIT\n");
  WriteFile(dir.path() / "Output2.tvr", "-- 2\nEXIT\n");
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
            "\nError: Could not create the output log file. Error number :(28).\n"
            "\tReason: " + Env::Default()->ErrorText(28) + "\n");
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
  WriteFile(dir.path() / "Output1.tvr", "-- 1\nEXIT\n");
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

TEST(ImportLogFiles, OutputLogThatCannotBeReadBackOrCompletedIsNamedAndTheRunGoesOn) {
  for (const bool unreadable : {true, false}) {
    TempDir dir;
    WriteFile(dir.path() / "Output1.tvr", "-- 1\nEXIT\n");
    WriteFile(dir.path() / "Output2.tvr", "-- 2\nEXIT\n");
    ImportRun r(dir.path().string());
    r.env.refuse_output_logs = unreadable;
    r.env.fail_output_log_close = !unreadable;

    EXPECT_TRUE(ImportLogFiles(r.run));
    EXPECT_EQ(r.env.runs.size(), 2u);
    // Unchecked is not clean: both scripts count as reporting errors.
    EXPECT_TRUE(r.run.errors_reported);
    const std::string warning =
        std::string("\n[ImportLogFiles] Warning: Unable to ") +
        (unreadable ? "read" : "complete") + " output log " +
        JoinPath(dir.path().string(), "import1_2026_01_02_03_04_05.olog") +
        ". Its errors could not be checked.\n";
    EXPECT_NE(r.out.str().find(warning), std::string::npos) << r.out.str();
    EXPECT_TRUE(r.out.str().ends_with(
        "\n[ImportLogFiles] 2 of 2 scripts reported errors. Check their output logs.\n"));
  }
}

TEST(ImportLogFiles, ParseRunImportsTheScriptsItWroteInTheOrderWritten) {
  TempDir dir;
  const std::string output = dir.path().string();
  WriteFile(dir.path() / "Output3.tvr", "-- 3\nEXIT\n");
  WriteFile(dir.path() / "Output2.tvr", "-- 2\nEXIT\n");
  ImportRun r(output);
  r.run.settings.parse = true;
  r.run.files.push_back({"a.sql", 3});
  r.run.scripts_written = {{JoinPath(output, "Output3.tvr"), 3}, {JoinPath(output, "Output2.tvr"), 2}};

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
  r.run.scripts_written = {{JoinPath(output, "Output1.tvr"), 1}, {JoinPath(output, "Output2.tvr"), 2}};

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

TEST(ImportLogFiles, ScriptWhosePathTheClientCannotTakeIsNotImportedNorJournaled) {
  TempDir dir;
  const std::string output = dir.path().string();
  for (const char* name : {"Output1.tvr", "Output2.tvr", "Output3.tvr"})
    WriteFile(dir.path() / name, "EXIT");
  ImportRun r(output);
  r.env.unpassable = "Output2.tvr";
  r.env.shortened = "Output3.tvr";

  EXPECT_TRUE(ImportLogFiles(r.run));
  // The client gets the short form, and the messages the name as it is.
  ASSERT_EQ(r.env.runs.size(), 2u);
  EXPECT_EQ(r.env.runs[0].back(), "@" + JoinPath(output, "Output1.tvr"));
  EXPECT_EQ(r.env.runs[1].back(), "@SHORT~1.TVR");
  EXPECT_TRUE(r.run.errors_reported);
  EXPECT_EQ(r.out.str(),
            "\n\nImporting data from file == Output1.tvr== to SQL*PLUS started ...\n"
            "\n[ImportLogFiles] Warning: The path of script " + JoinPath(output, "Output2.tvr") +
                " cannot be passed to sqlplus in this system's code page. It is not imported.\n"
                "\n\nImporting data from file == Output3.tvr== to SQL*PLUS started ...\n"
                "\n[ImportLogFiles] 1 of 3 scripts reported errors. Check their output logs.\n");
  // Never started, so the next run finds nothing cut short.
  EXPECT_EQ(ReadFile(dir.path() / kImportJournalName).find("Output2.tvr"), std::string::npos);
}

std::string HashOf(const std::string& bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.HexDigest();
}

// Three scripts in `dir`, "-- <n>\nEXIT\n" each.
void WriteThreeScripts(const std::filesystem::path& dir) {
  for (int i = 1; i <= 3; ++i)
    WriteFile(dir / ("Output" + std::to_string(i) + ".tvr"), "-- " + std::to_string(i) + "\nEXIT\n");
}

// `sequence`: a started line this run wrote, with the name of its output log.
std::string JournalLine(int script, const char* state, const char* time, int sequence = 0) {
  const std::string n = std::to_string(script);
  const std::string log =
      sequence ? "log=import" + std::to_string(sequence) + "_2026_01_02_03_04_05.olog " : "";
  return HashOf("-- " + n + "\nEXIT\n") + " " + state + " " + time + " " + log + "Output" + n +
         ".tvr\n";
}

std::vector<std::string> ScriptsRun(const FakeSqlPlusEnv& env) {
  std::vector<std::string> names;
  for (const auto& argv : env.runs)
    names.push_back(argv.back().substr(argv.back().rfind(kPathSeparator) + 1));
  return names;
}

TEST(ImportLogFiles, JournalSkipsWhatWasImportedAndWarnsOfWhatWasCutShort) {
  TempDir dir;
  WriteThreeScripts(dir.path());
  const auto journal = dir.path() / kImportJournalName;
  const std::string before = JournalLine(1, "started", "2026-01-01T10:00:00Z") +
                             JournalLine(1, "ended", "2026-01-01T10:00:09Z") +
                             JournalLine(2, "started", "2026-01-01T10:00:10Z");
  WriteFile(journal, before);
  ImportRun r(dir.path().string());

  EXPECT_TRUE(ImportLogFiles(r.run));
  EXPECT_EQ(ScriptsRun(r.env), std::vector<std::string>{"Output3.tvr"});
  // Only the cut-short one counts as an error.
  EXPECT_TRUE(r.run.errors_reported);
  EXPECT_EQ(r.out.str(),
            "\n[ImportLogFiles] Notice: Output1.tvr was imported on 2026-01-01T10:00:09Z; "
            "skipped. Use -F to import it again.\n"
            "\n[ImportLogFiles] Warning: Output2.tvr was being imported when an earlier run "
            "stopped; it may be partly in the database. Skipped: check the database; to import "
            "this script alone, copy it into an empty folder and run tavrin -I -F there.\n"
            "\n\nImporting data from file == Output3.tvr== to SQL*PLUS started ...\n"
            "\n[ImportLogFiles] 1 of 3 scripts reported errors. Check their output logs.\n");
  EXPECT_EQ(ReadFile(journal), before + JournalLine(3, "started", "2026-01-02T03:04:05Z", 1) +
                                   JournalLine(3, "ended", "2026-01-02T03:04:05Z"));
  // The first client ran with import1_, whatever was skipped before it.
  EXPECT_EQ(ReadFile(dir.path() / "import1_2026_01_02_03_04_05.olog"), "ran\n");

  // Again over the same scripts: all three are skipped, and that is no error.
  ImportRun again(dir.path().string());
  WriteFile(journal, ReadFile(journal) + JournalLine(2, "ended", "2026-01-01T11:00:00Z"));
  EXPECT_TRUE(ImportLogFiles(again.run));
  EXPECT_TRUE(again.env.runs.empty());
  EXPECT_FALSE(again.run.errors_reported);
}

TEST(ImportLogFiles, ForceImportsWhateverTheJournalSaysAndStillWritesIt) {
  TempDir dir;
  WriteThreeScripts(dir.path());
  const auto journal = dir.path() / kImportJournalName;
  const std::string before = JournalLine(1, "ended", "2026-01-01T10:00:09Z") +
                             JournalLine(2, "started", "2026-01-01T10:00:10Z");
  WriteFile(journal, before);
  ImportRun r(dir.path().string());
  r.run.settings.force = true;

  EXPECT_TRUE(ImportLogFiles(r.run));
  EXPECT_EQ(ScriptsRun(r.env), (std::vector<std::string>{"Output1.tvr", "Output2.tvr",
                                                         "Output3.tvr"}));
  EXPECT_FALSE(r.run.errors_reported);
  std::string after = before;
  for (int i = 1; i <= 3; ++i)
    after += JournalLine(i, "started", "2026-01-02T03:04:05Z", i) +
             JournalLine(i, "ended", "2026-01-02T03:04:05Z");
  EXPECT_EQ(ReadFile(journal), after);
}

TEST(ImportLogFiles, EachScriptIsReadOnceForItsEndingAndItsHash) {
  TempDir dir;
  WriteThreeScripts(dir.path());
  WriteFile(dir.path() / "Output4.tvr", "-- 4\n");  // cut short
  const auto journal = dir.path() / kImportJournalName;
  const std::string before = JournalLine(2, "started", "2026-01-01T10:00:00Z") +
                             JournalLine(2, "ended", "2026-01-01T10:00:09Z");
  WriteFile(journal, before);
  ImportRun r(dir.path().string());

  EXPECT_TRUE(ImportLogFiles(r.run));
  EXPECT_EQ(ScriptsRun(r.env), (std::vector<std::string>{"Output1.tvr", "Output3.tvr"}));
  // Run, skipped by the journal, or refused for its ending: one read each.
  ASSERT_EQ(r.env.script_reads.size(), 4u);
  for (const auto& [path, reads] : r.env.script_reads) EXPECT_EQ(reads, 1) << path;
  EXPECT_EQ(ReadFile(journal), before + JournalLine(1, "started", "2026-01-02T03:04:05Z", 1) +
                                   JournalLine(1, "ended", "2026-01-02T03:04:05Z") +
                                   JournalLine(3, "started", "2026-01-02T03:04:05Z", 2) +
                                   JournalLine(3, "ended", "2026-01-02T03:04:05Z"));
}

TEST(ImportLogFiles, ScriptsAreKnownByTheirBytesAndEachCopyIsItsOwnImport) {
  TempDir dir;
  WriteFile(dir.path() / "Output1.tvr", "-- 1\nEXIT\n");
  WriteFile(dir.path() / "Output2.tvr", "-- 2\nEXIT\n");   // one byte apart
  WriteFile(dir.path() / "Output3.tvr", "-- 1\nEXIT\n");   // the same bytes again
  // An earlier -I alone imported the first copy only.
  WriteFile(dir.path() / kImportJournalName, JournalLine(1, "started", "2026-01-01T10:00:00Z") +
                                                 JournalLine(1, "ended", "2026-01-01T10:00:09Z"));
  ImportRun r(dir.path().string());

  EXPECT_TRUE(ImportLogFiles(r.run));
  EXPECT_EQ(ScriptsRun(r.env), (std::vector<std::string>{"Output2.tvr", "Output3.tvr"}));
  EXPECT_TRUE(r.out.str().starts_with(
      "\n[ImportLogFiles] Notice: Output1.tvr was imported on 2026-01-01T10:00:09Z; skipped. "
      "Use -F to import it again.\n"))
      << r.out.str();

  // Every copy has its import now.
  ImportRun again(dir.path().string());
  EXPECT_TRUE(ImportLogFiles(again.run));
  EXPECT_TRUE(again.env.runs.empty());
  EXPECT_FALSE(again.run.errors_reported);
}

// Groups whose scripts have the same bytes, as a -p run leaves them: the
// k-th file given is group k, with its script Output<k>.tvr.
constexpr const char* kCopy = "UPDATE stock SET n = n - 1;\nEXIT\n";

void WriteCopies(ImportRun& r, const std::filesystem::path& dir,
                 const std::vector<std::string>& files, const std::string& bytes = kCopy) {
  r.run.settings.parse = true;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto group = static_cast<std::int32_t>(i + 1);
    const std::string path = JoinPath(dir.string(), "Output" + std::to_string(group) + ".tvr");
    WriteFile(path, bytes);
    r.run.files.push_back({files[i], group});
    r.run.scripts_written.push_back({path, group});
  }
}

// A journal line of the copy that file `file`'s one-file group wrote as
// Output<script>.tvr; `file` empty: a line without a tag.
std::string CopyLine(const std::string& file, int script, const char* state,
                     const std::string& bytes = kCopy) {
  std::string line = HashOf(bytes) + " " + state + " 2026-01-01T10:00:00Z ";
  if (!file.empty()) line += "group=" + GroupTags({{file, 1}}).at(1).tag + " ";
  return line + "Output" + std::to_string(script) + ".tvr\n";
}

std::vector<std::string> Files(int first, int last) {
  std::vector<std::string> files;
  for (int i = first; i <= last; ++i) files.push_back((i < 10 ? "t0" : "t") + std::to_string(i) + ".sql");
  return files;
}

// What an earlier run left: copies first..last imported, and `cut` started.
std::string Imported(int first, int last, int cut = 0, bool tagged = true) {
  std::string journal;
  for (int i = first; i <= last; ++i) {
    const std::string file = tagged ? Files(i, i)[0] : std::string();
    journal += CopyLine(file, i, "started") + CopyLine(file, i, "ended");
  }
  if (cut) journal += CopyLine(tagged ? Files(cut, cut)[0] : std::string(), cut, "started");
  return journal;
}

std::vector<std::string> Scripts(std::vector<int> numbers) {
  std::vector<std::string> names;
  for (int n : numbers) names.push_back("Output" + std::to_string(n) + ".tvr");
  return names;
}

TEST(ImportLogFiles, IdenticalTransactionsAreImportedOnceEachAcrossStopsAndNewArrivals) {
  const std::string cut_short =
      " was being imported when an earlier run stopped; it may be partly in the database. "
      "Skipped: check the database; to import this script alone, copy it into an empty folder "
      "and run tavrin -I -F there.\n";
  struct Case {
    const char* what;
    std::vector<std::string> files;  // one group each, in order
    std::string journal;             // before the run
    std::vector<std::string> run;    // the scripts imported
    std::vector<std::string> said;   // in what the run printed
    bool errors;
  };
  const std::vector<Case> cases = {
      {"twelve copies", Files(1, 12), "",
       Scripts({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), {}, false},
      {"the same twelve again", Files(1, 12), Imported(1, 12), {},
       {"\n[ImportLogFiles] Notice: Output12.tvr (from t12.sql) was imported on "
        "2026-01-01T10:00:00Z; skipped. Use -F to import it again.\n"},
       false},
      {"stopped in the sixth", Files(1, 12), Imported(1, 5, 6), Scripts({7, 8, 9, 10, 11, 12}),
       {"\n[ImportLogFiles] Warning: Output6.tvr (from t06.sql)" + cut_short}, true},
      {"a new copy sorts first", Files(0, 12), Imported(1, 5, 6),
       Scripts({1, 8, 9, 10, 11, 12, 13}),
       {"\n[ImportLogFiles] Warning: Output7.tvr (from t06.sql)" + cut_short}, true},
      {"-I alone stopped in the third", Files(1, 5), Imported(1, 2, 3, false), Scripts({4, 5}),
       {"\n[ImportLogFiles] Notice: Output2.tvr (from t02.sql) was imported on "
        "2026-01-01T10:00:00Z; skipped. Use -F to import it again.\n",
        "\n[ImportLogFiles] Warning: Output3.tvr (from t03.sql)" + cut_short},
       true},
      {"the first copy cut short", Files(1, 2), CopyLine("t01.sql", 1, "started"), Scripts({2}),
       {"\n[ImportLogFiles] Warning: Output1.tvr (from t01.sql)" + cut_short}, true},
      {"imported as other bytes", Files(1, 2),
       CopyLine("t01.sql", 1, "started", "-- older\nEXIT\n") +
           CopyLine("t01.sql", 1, "ended", "-- older\nEXIT\n"),
       Scripts({2}),
       {"\n[ImportLogFiles] Warning: Output1.tvr (from t01.sql) was imported before as other "
        "bytes; skipped. Use -F to import it again.\n"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    if (!c.journal.empty()) WriteFile(dir.path() / kImportJournalName, c.journal);
    ImportRun r(dir.path().string());
    WriteCopies(r, dir.path(), c.files);
    EXPECT_TRUE(ImportLogFiles(r.run));
    EXPECT_EQ(ScriptsRun(r.env), c.run);
    for (const std::string& text : c.said)
      EXPECT_NE(r.out.str().find(text), std::string::npos) << r.out.str();
    EXPECT_EQ(r.run.errors_reported, c.errors);

    // Whatever was left, a second run over the same copies imports nothing.
    ImportRun again(dir.path().string());
    WriteCopies(again, dir.path(), c.files);
    EXPECT_TRUE(ImportLogFiles(again.run));
    EXPECT_TRUE(again.env.runs.empty()) << again.out.str();
  }
}

// An import that an earlier run left open, of these bytes or others of the
// same group: settled by the probe when it has an id, and when it committed
// its output log is read. Other bytes only for an import that ended.
TEST(ImportLogFiles, AnOpenImportIsSettledAndOtherBytesAreOnlyWhatEnded) {
  std::string script = "SET VERIFY OFF\r\n";
  for (std::string_view line : kHistoryLines) script.append(line).append("\r\n");
  script += "EXIT\r\n";
  const std::string tag = GroupTags({{"t01.sql", 1}}).at(1).tag;
  const std::string id = " id=" + std::string(32, '7');
  const std::string log = "import1_x.olog", at = "started 2026-01-01T10:00:00Z";
  const auto line = [&](const std::string& bytes, const std::string& state,
                        const std::string& fields = "") {
    return HashOf(bytes) + " " + state + " group=" + tag + fields + " Output1.tvr\n";
  };
  const std::string older = "-- older\nEXIT\n", ended = "ended 2026-01-01T10:00:01Z";
  const std::string now = " 2026-01-02T03:04:05Z", committed = "TAVRIN-HISTORY 1\n";
  struct Case {
    std::string journal, probe_printed, said, written;  // written: a line the run adds
    const char* log_in;  // where the old import's output log is: a subfolder, or nowhere
    bool imported;       // else it counts as errors
  };
  // Its group before a file joined it: another tag, the same first file.
  const auto grown = [&](const std::string& state, const std::string& fields) {
    return HashOf(older) + " " + state + " group=0123456789abcdef" + fields + " Output1.tvr\n";
  };
  const std::string first = " first=" + GroupTags({{"t01.sql", 1}}).at(1).first;
  const std::string open = line(older, at), open_id = line(older, at, id);
  const std::string mine = line(script, at, id + " log=" + log), other = "imported before as other";
  const std::vector<Case> cases = {
      {open + line(older, ended), "", other, "", nullptr, false},
      {open, "", "as other bytes when an earlier run stopped", "", nullptr, false},
      {open_id, "TAVRIN-HISTORY 0\n", "holds none of it", line(older, "undone" + now, id), nullptr,
       true},
      {open_id, committed, other, line(older, "ended" + now, id), nullptr, false},
      {open + line(older, ended) + line("-- third\nEXIT\n", "moved" + now), "TAVRIN-HISTORY 0\n",
       "", "", nullptr, true},
      {mine, committed, "reported 1 error(s) for file Output1.tvr", "", "", false},
      {mine, committed, "Processed_1", "", "Processed_1", false},
      {mine, committed, "The output log " + log + " of Output1.tvr (from t01.sql) is not in the "
       "output directory. Its errors could not be checked.\n", "", nullptr, false},
      {line(script, at, id + " log=" + log + " atomic=no"), committed, "was being imported when",
       "", "", false},
      {grown(at, id + first), "TAVRIN-HISTORY 0\n", "holds none of it", grown("undone" + now, id),
       nullptr, true},
      {grown(at, id + first), committed, other, grown("ended" + now, id), nullptr, false},
      {grown(at, first), "", "as other bytes when an earlier run stopped", "", nullptr, false},
      {grown(at, first) + grown(ended, ""), "TAVRIN-HISTORY 0\n", "", "", nullptr, true},
      {grown(at, id + first) + grown("undone 2026-01-01T10:00:01Z", id), "TAVRIN-HISTORY 0\n", "",
       "", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.journal);
    TempDir dir;
    const std::string output = dir.path().string();
    WriteFile(dir.path() / kImportJournalName, c.journal);
    if (c.log_in) WriteFile(dir.path() / c.log_in / log, "ERROR at line 1:\n");
    BackupRecord record(*Env::Default(), JoinPath(output, kBackupRecordName));
    record.Assign({BackupStep::Of(BackupStep::kLog, JoinPath(output, "Processed_1"),
                                  output + kPathSeparator, log)});
    ASSERT_TRUE(record.Write());
    ImportRun r(output);
    r.env.probe_printed = c.probe_printed;
    WriteCopies(r, dir.path(), Files(1, 1), script);
    EXPECT_TRUE(ImportLogFiles(r.run));
    EXPECT_EQ(ScriptsRun(r.env), c.imported ? Scripts({1}) : Scripts({}));
    EXPECT_NE(r.out.str().find(c.said), std::string::npos) << r.out.str();
    EXPECT_EQ(r.run.errors_reported, !c.imported);
    EXPECT_TRUE(ReadFile(dir.path() / kImportJournalName).starts_with(c.journal + c.written));
  }
}

TEST(ImportLogFiles, JournalThatCannotBeWrittenStopsBeforeTheNextClient) {
  TempDir dir;
  WriteThreeScripts(dir.path());
  const std::string journal = JoinPath(dir.path().string(), kImportJournalName);
  const std::string error = "\n[ImportLogFiles] Error: Unable to write the import journal " +
                            journal + ". ";
  {
    SCOPED_TRACE("cannot be made");
    ImportRun r(dir.path().string());
    r.env.refuse_journal = true;
    EXPECT_FALSE(ImportLogFiles(r.run));
    EXPECT_TRUE(r.env.runs.empty());
    EXPECT_EQ(r.out.str(), "");
    std::string reason = r.env.ErrorText(13);
    if (reason.ends_with('.')) reason.pop_back();
    EXPECT_EQ(r.err.str(), error + reason + ". Import abandoned.\n");
  }
  {
    SCOPED_TRACE("cannot be synced before the second client");
    ImportRun r(dir.path().string());
    r.env.sync.refuse_number = 2;
    EXPECT_FALSE(ImportLogFiles(r.run));
    EXPECT_EQ(ScriptsRun(r.env), std::vector<std::string>{"Output1.tvr"});
    EXPECT_TRUE(r.err.str().starts_with(error)) << r.err.str();
    EXPECT_TRUE(r.err.str().ends_with(". Import abandoned.\n")) << r.err.str();
  }
  {
    SCOPED_TRACE("cannot be synced at the end");
    std::filesystem::remove(journal);
    ImportRun r(dir.path().string());
    r.env.sync.refuse_number = 4;  // after three started lines
    EXPECT_FALSE(ImportLogFiles(r.run));
    EXPECT_EQ(r.env.runs.size(), 3u);
    EXPECT_TRUE(r.err.str().starts_with(error)) << r.err.str();
  }
}

TEST(ImportLogFiles, SqlPlusThatCannotBeStartedLeavesNoTraceInTheJournal) {
  TempDir dir;
  WriteThreeScripts(dir.path());
  const auto journal = dir.path() / kImportJournalName;
  WriteFile(journal, JournalLine(1, "ended", "2026-01-01T10:00:09Z"));
  struct NoSqlPlus : FakeSqlPlusEnv {
    bool RunChild(const ChildCommand&, ChildExit*) override { return Fail(2); }
  };
  NoSqlPlus env;
  std::ostringstream out, err;
  tavrin::Run run(env, out, err);
  run.settings.output_directory = dir.path().string();
  run.settings.user = "u";
  run.settings.password = "p";
  run.settings.host = "h";

  EXPECT_FALSE(ImportLogFiles(run));
  EXPECT_EQ(ReadFile(journal), JournalLine(1, "ended", "2026-01-01T10:00:09Z"));
}

}  // namespace
}  // namespace tavrin

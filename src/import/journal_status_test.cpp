// -J over journals, records and scripts of every kind: the bytes it prints,
// its exit code, and that it leaves the output directory as it found it.

#include "import/journal_status.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "driver/banner.h"
#include "driver/driver.h"
#include "import/backup_record.h"
#include "import/import_journal.h"
#include "import/sha256.h"
#include "platform/path.h"
#include "support/env_wrapper.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

// Refuses to open the file whose bare name is `refused`, with error 13.
class RefusingEnv final : public test::EnvWrapper {
 public:
  RefusingEnv() : EnvWrapper(Env::Default()) {}
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
    if (!refused.empty() && path.ends_with(refused)) return Fail(13), nullptr;
    return EnvWrapper::OpenForReading(path);
  }
  std::string refused;
};

// A journal line of the script `bytes`; `fields` are those after the time.
std::string Line(const std::string& bytes, const char* word, const std::string& fields) {
  Sha256 sha;
  sha.Update(bytes);
  return sha.HexDigest() + " " + word + " 2026-12-01T10:0" + (word[0] == 's' ? "0" : "5") +
         ":00Z " + fields + "\n";
}

std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    files[entry.path().string()] = entry.is_regular_file() ? test::ReadFile(entry.path()) : "/";
  return files;
}

TEST(JournalStatus, EachStateItsLineAndTheExitCode) {
  const std::string a = "A\nEXIT\n", b = "B\nEXIT\n", c3 = "C\nEXIT\n", d = "D\nEXIT\n";
  const std::string tag = "group=00000000000000a1 ", id = "id=0123456789abcdef0123456789abcdef ";
  const std::string record = "tavrin-backup 2\ninput\tP\tin/\tx.sql\t-\t-\nend\nfailed\t1\n";
  const std::string summary = " imported, 0 importing, ";
  struct Case {
    const char* name;
    std::string journal, record;  // empty: none
    std::vector<std::pair<const char*, std::string>> scripts;
    bool locked = false;
    const char* refused = "";  // the file that cannot be opened
    std::string out, err;
    int code;
    std::vector<const char*> args = {"-J", "-o", "out"};
  };
  const char* const takes_only = "\n\n[Tavrin] Error: -J takes only -o and -l.\n";
  const char* const needs_o = "\n\n[Tavrin] Error: -J needs -o.\n";
  const Case cases[] = {
      {"no journal", "", "", {{"Output2.tvr", b}, {"Output10.tvr", a}}, false, "",
       "Output2.tvr\tnot imported\t-\t-\nOutput10.tvr\tnot imported\t-\t-\n"
       "0 imported, 0 importing, 0 cut short, 0 held back, 2 not imported, 0 left out.\n", "", 0},
      {"every state", Line(a, "started", tag + "Output1.tvr") +
           Line(a, "ended", tag + "Output1.tvr") + Line(b, "started", "Old2.tvr") +
           Line(c3, "started", id + "Output3.tvr") +
           Line(c3, "undone", id + "Output3.tvr") + Line(d, "started", "Output4.tvr") +
           Line(d, "moved", "Output4.tvr"),
       "", {{"Output1.tvr", a}, {"Output2.tvr", b}, {"Output3.tvr", c3}, {"Output5.tvr", d}},
       false, "",
       "Output1.tvr\timported\t2026-12-01T10:05:00Z\t00000000000000a1\n"
       "Output2.tvr\tcut short\t2026-12-01T10:00:00Z\t-\n"
       "Output3.tvr\theld back\t2026-12-01T10:05:00Z\t-\nOutput5.tvr\tnot imported\t-\t-\n"
       "1" + summary + "1 cut short, 1 held back, 1 not imported, 0 left out.\n", "", 2},
      {"copies, a script gone, a history settles", Line(a, "started", "x.tvr") +
           Line(a, "ended", "x.tvr") + Line(a, "started", "y.tvr") + Line(a, "ended", "y.tvr") +
           Line(b, "started", "Gone.tvr") + Line(b, "ended", "Gone.tvr") +
           Line(c3, "started", id + "Output9.tvr") + Line(d, "started", "u.tvr") +
           Line(d, "undone", "u.tvr") + Line(d, "started", "v.tvr") + Line(d, "ended", "v.tvr"),
       "", {{"Output1.tvr", a}, {"Output2.tvr", a}, {"Output3.tvr", a}}, false, "",
       "Output1.tvr\timported\t2026-12-01T10:05:00Z\t-\nOutput2.tvr\timported\t2026-12-01T10:05:00Z\t-\n"
       "Gone.tvr\timported\t2026-12-01T10:05:00Z\t-\nOutput9.tvr\tcut short\t2026-12-01T10:00:00Z\t-\n"
       "v.tvr\timported\t2026-12-01T10:05:00Z\t-\nOutput3.tvr\tnot imported\t-\t-\n"
       "4" + summary + "1 cut short, 0 held back, 1 not imported, 0 left out.\n", "", 0},
      {"not atomic", Line(c3, "started", id + "atomic=no Output1.tvr"), "", {}, false, "",
       "Output1.tvr\tcut short\t2026-12-01T10:00:00Z\t-\n"
       "0" + summary + "1 cut short, 0 held back, 0 not imported, 0 left out.\n", "", 2},
      {"a run holds the lock", Line(a, "started", "Output1.tvr"), "", {{"Output1.tvr", a}}, true,
       "", "Output1.tvr\timporting\t2026-12-01T10:00:00Z\t-\n"
       "0 imported, 1 importing, 0 cut short, 0 held back, 0 not imported, 0 left out.\n", "", 0},
      {"torn line, left out", Line(a, "started", "a.tvr") + Line(a, "ended", "a.tvr") + "0123",
       record, {}, false, "",
       "a.tvr\timported\t2026-12-01T10:05:00Z\t-\nin/x.sql\tleft out\t-\t-\n"
       "1" + summary + "0 cut short, 0 held back, 0 not imported, 1 left out.\n",
       "\n[ImportLogFiles] Warning: 1 line(s) of the import journal " +
           JoinPath("out", kImportJournalName) + " could not be read. They are ignored.\n", 2},
      {"journal unreadable", Line(a, "started", "a.tvr"), "", {}, false, kImportJournalName, "",
       "\n\n[Tavrin] Error: Unable to read " + JoinPath("out", kImportJournalName) +
           ". Process aborted.\n\tReason: " + Env::Default()->ErrorText(13) + "\n", 1},
      {"record unreadable", "", record, {}, false, kBackupRecordName, "",
       "\n\n[Tavrin] Error: Unable to read " + JoinPath("out", kBackupRecordName) +
           ". Process aborted.\n\tReason: " + Env::Default()->ErrorText(13) + "\n", 1},
      {"record of no run", "", "left by hand\n", {}, false, "", "",
       "\n\n[Tavrin] Error: Unable to read " + JoinPath("out", kBackupRecordName) +
           ". Process aborted.\n", 1},
      {"-p beside", "", "", {}, false, "", "", takes_only, 1, {"-J", "-o", "out", "-p"}},
      {"-I bundled", "", "", {}, false, "", "", takes_only, 1, {"-IJ", "-o", "out"}},
      {"an argument", "", "", {}, false, "", "", takes_only, 1, {"-J", "-o", "out", "more"}},
      {"no -o", "", "", {}, false, "", "", needs_o, 1, {"-J"}},
      {"empty -o", "", "", {}, false, "", "", needs_o, 1, {"-J", "-o", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    if (!c.journal.empty()) test::WriteFile(out / kImportJournalName, c.journal);
    if (!c.record.empty()) test::WriteFile(out / kBackupRecordName, c.record);
    for (const auto& [name, bytes] : c.scripts) test::WriteFile(out / name, bytes);
    LockFailure failure;
    auto held = c.locked ? Env::Default()->LockExclusive((out / "tavrin.lock").string(), &failure)
                         : nullptr;
    const auto before = Snapshot(dir.path());
    RefusingEnv env;
    env.refused = c.refused;
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    std::vector<const char*> argv = {"tavrin"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::ostringstream stdout_text, stderr_text;
    const int code =
        RunTavrin(static_cast<int>(argv.size()), argv.data(), env, stdout_text, stderr_text);
    fs::current_path(previous);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(stdout_text.str(), "\n" + BuildBanner(env) + "(Oracle version)\n\n" + c.out);
    EXPECT_EQ(stderr_text.str(), c.err);
    EXPECT_EQ(Snapshot(dir.path()), before);
  }
}

}  // namespace
}  // namespace tavrin

// A backup stopped or refused half-way, and the runs after it: each case
// leaves what a stop or a refusal leaves (the backup record and the files),
// then runs a full -p -I -m -e through the fault layer. No input file that
// an earlier run processed is ever imported again, and none is lost.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "driver/driver.h"
#include "fault/example_batch.h"
#include "import/backup_record.h"
#include "import/import_journal.h"
#include "import/sha256.h"
#include "platform/move_by_copy.h"
#include "platform/path.h"
#include "support/fault_env.h"
#include "support/temp_dir.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

// The fault layer's clock names the backup directory.
constexpr const char* kBackup = "Processed_2026-12-01_10-15-30";

struct Result {
  int code = -1;
  std::string out, err;
  std::size_t scripts_run = 0;
};

class Batch {
 public:
  Batch() : in_(dir_.path() / "in"), out_(dir_.path() / "out") {
    fs::create_directories(in_);
    fs::create_directories(out_);
    for (const auto& [name, bytes] : Files()) WriteFile(in_ / name, bytes);
  }

  static std::map<std::string, std::string> Files() {
    return {{"a.sql", kExampleA}, {"b.sql", kExampleB}, {"c.sql", kExampleC}};
  }

  Result Run(std::vector<std::string> switches, const std::string& refuse = "",
             bool cross_device = false) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.path());
    std::vector<std::string> args{"tavrin"};
    args.insert(args.end(), switches.begin(), switches.end());
    for (const std::string& arg : {std::string("-i"), in_.string(), std::string("-o"),
                                   out_.string(), std::string("-U"), std::string("scott"),
                                   std::string("-P"), std::string("tiger"), std::string("-S"),
                                   std::string("orcl")})
      args.push_back(arg);
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    FaultEnv env(0);
    env.refuse_moves_of = refuse;
    env.cross_device = cross_device;
    std::ostringstream out, err;
    Result r;
    r.code = RunTavrin(static_cast<int>(argv.size()), argv.data(), env, out, err);
    fs::current_path(previous);
    r.out = out.str();
    r.err = err.str();
    r.scripts_run = env.scripts_run().size();
    return r;
  }

  // A record with these steps, as a stopped run leaves it.
  void Record(std::vector<BackupStep> steps) {
    BackupRecord record(*Env::Default(), (out_ / kBackupRecordName).string());
    record.Assign(std::move(steps));
    ASSERT_TRUE(record.Write());
  }

  BackupStep Input(const std::string& name) const {
    BackupStep step = BackupStep::Of(BackupStep::kInput, kBackup, In(), name);
    Sha256 hash;
    hash.Update(Files()[name]);
    step.sha256 = hash.HexDigest();
    step.size = static_cast<std::int64_t>(Files()[name].size());
    return step;
  }

  std::string In() const { return in_.string() + kPathSeparator; }
  std::string Out() const { return out_.string() + kPathSeparator; }
  fs::path backup() const { return dir_.path() / kBackup; }
  const fs::path& in() const { return in_; }
  const fs::path& out() const { return out_; }

  std::vector<std::string> Entries(const fs::path& where) const {
    std::vector<std::string> names;
    if (fs::exists(where))
      for (const auto& e : fs::directory_iterator(where)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  TempDir dir_;
  fs::path in_, out_;
};

const std::vector<std::string> kFull = {"-p", "-I", "-m", "-e"};

struct Case {
  const char* name;
  // Leaves what the stop or refusal left.
  std::function<void(Batch&)> before;
  int code;
  std::vector<std::string> said;    // in the messages
  std::size_t scripts_run;          // handed to the client by the run after
  std::vector<std::string> in_after;  // the input directory after it
};

TEST(BackupRecovery, WhatAStoppedOrRefusedBackupLeavesIsFinishedAndNeverImportedAgain) {
  const std::vector<std::string> all = {"a.sql", "b.sql", "c.sql"};
  const std::vector<Case> cases = {
      {"stopped between the copy and the removal of a.sql: the original is a leftover",
       [](Batch& b) {
         ASSERT_EQ(b.Run(kFull).code, 0);
         fs::copy_file(b.backup() / "a.sql", b.in() / "a.sql");
         b.Record({b.Input("a.sql")});
       },
       0, {"Notice: An earlier run stopped while moving its input files to " + std::string(kBackup)},
       0, {}},
      {"stopped during the copy of a.sql: the partial copy is made again",
       [](Batch& b) {
         ASSERT_EQ(b.Run(kFull).code, 0);
         fs::rename(b.backup() / "a.sql", b.in() / "a.sql");
         WriteFile(b.backup() / ("a.sql" + std::string(kCopySuffix)), "-- half");
         b.Record({b.Input("a.sql")});
       },
       0, {"\tMoved File :a.sql to "}, 0, {}},
      {"a partial copy whose original is gone is kept, and named",
       [](Batch& b) {
         ASSERT_EQ(b.Run(kFull).code, 0);
         fs::rename(b.backup() / "a.sql", b.backup() / ("a.sql" + std::string(kCopySuffix)));
         b.Record({b.Input("a.sql")});
       },
       0, {"a.sql.tavrin-copy was left by a move that stopped"}, 0, {}},
      {"stopped after the input files: scripts, output logs and journal lines are finished",
       [](Batch& b) {
         ASSERT_EQ(b.Run({"-p", "-I"}).code, 0);
         std::vector<BackupStep> steps;
         for (const auto& [name, bytes] : Batch::Files()) {
           steps.push_back(b.Input(name));
           steps.back().done = true;
         }
         fs::create_directory(b.backup());
         for (const std::string& name : b.Entries(b.in())) fs::rename(b.in() / name, b.backup() / name);
         for (const std::string& name : b.Entries(b.out()))
           if (name.ends_with(".tvr") || name.ends_with(".olog"))
             steps.push_back(BackupStep::Of(name.ends_with(".tvr") ? BackupStep::kScript
                                                                    : BackupStep::kLog,
                                            kBackup, b.Out(), name));
         b.Record(steps);
       },
       0, {"Moved File :Output1.tvr", "Moved File :Output2.tvr"}, 0, {}},
      {"stopped after a script moved, before its journal line: the line is written",
       [](Batch& b) {
         ASSERT_EQ(b.Run({"-p", "-I"}).code, 0);
         fs::create_directory(b.backup());
         std::vector<BackupStep> steps;
         for (const std::string& name : b.Entries(b.in())) {
           steps.push_back(b.Input(name));
           steps.back().done = true;
           fs::rename(b.in() / name, b.backup() / name);
         }
         for (const std::string& name : b.Entries(b.out())) {
           if (!name.ends_with(".tvr") && !name.ends_with(".olog")) continue;
           const bool script = name.ends_with(".tvr");
           steps.push_back(BackupStep::Of(script ? BackupStep::kScript : BackupStep::kLog, kBackup,
                                          b.Out(), name));
           if (script) fs::rename(b.out() / name, b.backup() / name);
         }
         b.Record(steps);
       },
       0, {"Notice: An earlier run stopped"}, 0, {}},
      {"a file of a listed name with other bytes is a new arrival",
       [](Batch& b) {
         ASSERT_EQ(b.Run(kFull).code, 0);
         WriteFile(b.in() / "a.sql", kExampleC);
         b.Record({b.Input("a.sql")});
       },
       0, {"is not the file an earlier run was moving to"}, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Batch b;
    c.before(b);
    if (::testing::Test::HasFatalFailure()) return;
    const Result r = b.Run(kFull);
    const std::string messages = r.out + r.err;
    EXPECT_EQ(r.code, c.code) << messages;
    for (const std::string& text : c.said) EXPECT_NE(messages.find(text), std::string::npos) << messages;
    EXPECT_EQ(messages.find("Unable to find"), std::string::npos) << messages;
    EXPECT_EQ(r.scripts_run, c.scripts_run);
    EXPECT_EQ(b.Entries(b.in()), c.in_after);
    // Nothing waits any more: every input file once in its backup directory,
    // unchanged; the record gone; no journal line left.
    for (const auto& [name, bytes] : Batch::Files())
      if (!fs::exists(b.in() / name) && !fs::exists(b.backup() / (name + kCopySuffix))) {
        EXPECT_EQ(ReadFile(b.backup() / name), bytes) << name;
      }
    EXPECT_FALSE(fs::exists(b.out() / kBackupRecordName));
    EXPECT_EQ(ReadFile(b.out() / kImportJournalName), "");
    std::vector<std::string> waiting = b.Entries(b.out());
    std::erase_if(waiting, [](const std::string& n) { return n.ends_with(".tvr") || n.ends_with(".olog"); });
    EXPECT_EQ(b.Entries(b.out()), waiting);
  }
}

TEST(BackupRecovery, AFileThatCannotBeMovedIsLeftOutOnEveryRunUntilItIsGone) {
  Batch b;
  ASSERT_EQ(b.Run(kFull, "b.sql").code, 2);
  const std::string warning = "\n[GroupFileList] Warning: " + JoinPath(b.in().string(), "b.sql") +
                              " was processed by an earlier run but could not be moved to " +
                              kBackup + "; it is left out. Move it there by hand.\n";
  // Alone, and then with a new file beside it that is read; b.sql is not,
  // with or without -e.
  for (const bool beside : {false, true}) {
    for (const bool fail_on_errors : {true, false}) {
      if (beside) WriteFile(b.in() / "d.sql", fail_on_errors ? kExampleA : kExampleC);
      SCOPED_TRACE(std::string(beside ? "with d.sql" : "alone") + (fail_on_errors ? ", -e" : ""));
      std::vector<std::string> switches = {"-p", "-I", "-m"};
      if (fail_on_errors) switches.push_back("-e");
      const Result r = b.Run(switches, "b.sql");
      EXPECT_EQ(r.code, fail_on_errors ? 2 : 0) << r.out << r.err;
      EXPECT_NE(r.out.find(warning), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find("Grouping file:b.sql"), std::string::npos);
      EXPECT_EQ(r.out.find("Grouping file:d.sql") != std::string::npos, beside);
      EXPECT_EQ(r.err.find("Unable to find target sql files"), std::string::npos);
      EXPECT_EQ(r.scripts_run, beside ? 1u : 0u);
    }
  }
  EXPECT_EQ(b.Entries(b.in()), std::vector<std::string>{"b.sql"});
  // Movable again: the next run's finisher moves it, and says nothing of it.
  const Result r = b.Run(kFull);
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("left out"), std::string::npos);
  EXPECT_TRUE(b.Entries(b.in()).empty());
  EXPECT_EQ(ReadFile(b.backup() / "b.sql"), kExampleB);
  EXPECT_FALSE(fs::exists(b.out() / kBackupRecordName));
}

TEST(BackupRecovery, AMoveAcrossFileSystemsLeavesNoCopyBehind) {
  Batch b;
  ASSERT_EQ(b.Run(kFull, "", true).code, 0);
  EXPECT_TRUE(b.Entries(b.in()).empty());
  for (const auto& [name, bytes] : Batch::Files()) EXPECT_EQ(ReadFile(b.backup() / name), bytes);
  for (const std::string& name : b.Entries(b.backup()))
    EXPECT_FALSE(name.ends_with(kCopySuffix)) << name;
}

}  // namespace
}  // namespace tavrin::test

// A run finds its output directory's lock taken, or cannot lock it: it ends
// before it reads an input or writes anything. A run whose lock file is taken
// away ends before its next step.

#include "driver/output_lock.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <sstream>

#include "driver/driver.h"
#include "fault/example_batch.h"
#include "import/import_journal.h"
#include "platform/path.h"
#include "support/env_wrapper.h"
#include "support/fault_env.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class FixedClock : public test::EnvWrapper {
 public:
  FixedClock() : EnvWrapper(Env::Default()) {}
  DateTime LocalNow() override { return DateTime{2026, 3, 4, 5, 6, 7}; }
  std::int64_t CalendarSeconds() override { return 0; }
};

struct Outcome {
  int code;
  std::string out, err;
};

Outcome RunIn(Env& env, std::vector<std::string> args) {
  args.insert(args.begin(), "tavrin");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  int code = RunTavrin(static_cast<int>(argv.size()), argv.data(), env, out, err);
  return {code, out.str(), err.str()};
}

class OutputLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(dir_.path());
    fs::create_directories(dir_.path() / "in");
    fs::create_directories(dir_.path() / "out");
    WriteFile(dir_.path() / "in" / "a.sql",
              "COLUMN identity_1 NEW_VALUE identity_1 NOPRINT\r\nUPDATE t SET a = 1;\r\n");
  }
  void TearDown() override { fs::current_path(previous_); }

  std::string Out() const { return (dir_.path() / "out").string(); }
  std::string In() const { return (dir_.path() / "in").string(); }

  TempDir dir_;
  fs::path previous_;
  FixedClock env_;
};

TEST_F(OutputLockTest, SecondRunEndsAtOnceAndSaysWhy) {
  LockFailure failure = LockFailure::kNone;
  auto held = Env::Default()->LockExclusive(JoinPath(Out(), kOutputLockName), &failure);
  ASSERT_NE(held, nullptr);

  Outcome r = RunIn(env_, {"-l", "-p", "-I", "-m", "-i", In(), "-o", Out(), "-S", "orcl"});
  EXPECT_EQ(r.code, 1);
  // It tried every 100 ms for 2 s.
  EXPECT_EQ(env_.sleeps(), 20);
  EXPECT_EQ(env_.slept_milliseconds(), 2000);
  const std::string text =
      "\n[Tavrin] Error: Another Tavrin run is using the output directory " + Out() +
      ". Process aborted.\n";
  EXPECT_EQ(r.err, text);
  EXPECT_EQ(r.out.find("Grouping"), std::string::npos);
  EXPECT_EQ(ReadFile(dir_.path() / "Tavrin_2026-03-04_05-06-07.log"), text);
  // Nothing read, written or moved.
  EXPECT_TRUE(fs::exists(dir_.path() / "in" / "a.sql"));
  std::vector<std::string> out_names;
  for (const auto& e : fs::directory_iterator(dir_.path() / "out"))
    out_names.push_back(e.path().filename().string());
  EXPECT_EQ(out_names, std::vector<std::string>{kOutputLockName});

  // Released, the same run goes ahead, and leaves the lock file behind, empty.
  held.reset();
  r = RunIn(env_, {"-p", "-i", In(), "-o", Out()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir_.path() / "out" / "Output1.tvr"));
  EXPECT_EQ(ReadFile(dir_.path() / "out" / kOutputLockName), "");
}

TEST_F(OutputLockTest, DirectoryThatCannotHoldTheLockIsReportedAsBefore) {
  const std::string missing = (dir_.path() / "missing").string();
  Outcome r = RunIn(env_, {"-p", "-i", In(), "-o", missing});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.find("Another Tavrin run"), std::string::npos);
  EXPECT_NE(r.out.find("Grouping file:a.sql"), std::string::npos);
  EXPECT_FALSE(fs::exists(missing));
}

// Another run holds the lock until this one has tried `release_after`
// times; this run's own lock file is taken away at its `lost_at`-th look.
class LockEnv final : public test::FaultEnv {
 public:
  LockEnv(const fs::path& out, int release_after, int lost_at)
      : FaultEnv(0), release_after_(release_after), lost_at_(lost_at) {
    fs::create_directories(out);
    LockFailure failure;
    other_ = Env::Default()->LockExclusive((out / kOutputLockName).string(), &failure);
  }
  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, LockFailure* failure) override {
    if (tries_++ == release_after_) other_.reset();
    auto lock = FaultEnv::LockExclusive(path, failure);
    return lock ? std::make_unique<Looked>(std::move(lock), lost_at_) : nullptr;
  }

 private:
  struct Looked final : HeldLock {
    Looked(std::unique_ptr<HeldLock> lock, int lost) : real(std::move(lock)), lost_at(lost) {}
    bool Intact() override { return ++looks < lost_at && real->Intact(); }
    std::unique_ptr<HeldLock> real;
    int lost_at, looks = 0;
  };
  int release_after_, lost_at_, tries_ = 0;
  std::unique_ptr<HeldLock> other_;
};

// The example batch (two groups) run in `where`.
Outcome RunBatch(LockEnv& env, const fs::path& where, std::vector<std::string> switches) {
  fs::create_directories(where / "in");
  for (const auto& [name, bytes] : {std::pair{"a.sql", test::kExampleA},
                                    {"b.sql", test::kExampleB}, {"c.sql", test::kExampleC}})
    WriteFile(where / "in" / name, bytes);
  switches.insert(switches.end(), {"-i", "in", "-o", "out", "-U", "u", "-P", "p", "-S", "orcl"});
  const fs::path previous = fs::current_path();
  fs::current_path(where);  // the backup directory goes there
  Outcome r = RunIn(env, switches);
  fs::current_path(previous);
  return r;
}

TEST(OutputLockWait, AnotherRunIsWaitedForAndALockThatCannotBeTakenStopsTheRun) {
  struct Case {
    int release_after;  // tries before the other run lets go; INT_MAX: never
    bool lock_call_fails, imported;
    int sleeps;
  };
  const Case cases[] = {{3, false, true, 3}, {20, false, true, 20}, {INT_MAX, false, false, 20},
                        {0, true, false, 0}};
  test::TempDir scratch;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.release_after);
    const fs::path where = scratch.path() / std::to_string(c.release_after);
    LockEnv env(where / "out", c.release_after, INT_MAX);
    if (c.lock_call_fails) env.FailFirst("LockExclusive");
    const Outcome r = RunBatch(env, where, {"-p", "-I"});
    EXPECT_EQ(r.code, c.imported ? 0 : 1) << r.err;
    EXPECT_EQ(env.sleeps(), c.sleeps);
    EXPECT_EQ(env.scripts_run().size(), c.imported ? 2u : 0u);
    if (c.lock_call_fails) {
      EXPECT_EQ(r.err, "\n\n[Tavrin] Error: Unable to lock the output directory out. Process "
                       "aborted.\n\tReason: " +
                           env.ErrorText(test::FaultEnv::kNoLocks) + "\n");
    }
  }
}

TEST(OutputLockTakenAway, RunStopsBeforeItsNextClientRewriteOrBackup) {
  struct Case {
    bool history;
    int lost_at;          // the look at the lock that finds its file gone
    const char* clients;  // the scripts the client was given
    const char* journal;  // the journal's states, in order
    int backup;           // 0: no backup directory; 1: made, empty; 2: the inputs moved there
  };
  const Case cases[] = {
      {false, 1, "", "", 0},                                   // as the lock is taken
      {false, 2, "", "started", 0},                            // before the first client
      {false, 3, "Output1.tvr", "started ended started", 0},   // before the second
      {false, 4, "Output1.tvr Output2.tvr", "started ended started ended", 0},  // the backup
      {false, 5, "Output1.tvr Output2.tvr", "started ended started ended", 1},  // its record
      {false, 6, "Output1.tvr Output2.tvr", "started ended started ended moved moved", 2},
      {true, 2, "", "", 0},  // before the history's probe
  };
  test::TempDir scratch;
  for (const Case& c : cases) {
    SCOPED_TRACE("look " + std::to_string(c.lost_at) + (c.history ? " with -H" : ""));
    const fs::path where = scratch.path() / (std::to_string(c.lost_at) + (c.history ? "H" : ""));
    LockEnv env(where / "out", 0, c.lost_at);
    std::vector<std::string> switches = {"-p", "-I", "-m"};
    if (c.history) switches.push_back("-H");
    const Outcome r = RunBatch(env, where, switches);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "\n[ImportLogFiles] Error: The lock file " + JoinPath("out", kOutputLockName) +
                         " was deleted or replaced while this run held it. Import abandoned.\n");
    EXPECT_EQ(r.out.find("Time elapsed"), std::string::npos);
    std::string clients, journal;
    for (const auto& [name, bytes] : env.scripts_run()) clients += (clients.empty() ? "" : " ") + name;
    EXPECT_EQ(clients, c.clients);
    std::istringstream lines(fs::exists(where / "out" / kImportJournalName)
                                 ? ReadFile(where / "out" / kImportJournalName) : "");
    for (std::string line; std::getline(lines, line);)
      journal += (journal.empty() ? "" : " ") + line.substr(65, line.find(' ', 65) - 65);
    EXPECT_EQ(journal, c.journal);
    int backup = 0;
    for (const auto& entry : fs::directory_iterator(where))
      if (entry.path().filename().string().starts_with("Processed_"))
        backup = fs::exists(entry.path() / "a.sql") ? 2 : 1;
    EXPECT_EQ(backup, c.backup);
  }
}

}  // namespace
}  // namespace tavrin

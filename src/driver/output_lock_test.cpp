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

// The example batch (two groups) in `where`, run with `switches` and `env`.
Outcome RunBatch(test::FaultEnv& env, const fs::path& where, std::vector<std::string> switches) {
  fs::create_directories(where / "in");
  fs::create_directories(where / "out");
  WriteFile(where / "in" / "a.sql", test::kExampleA);
  WriteFile(where / "in" / "b.sql", test::kExampleB);
  WriteFile(where / "in" / "c.sql", test::kExampleC);
  for (const char* s : {"-i", "in", "-o", "out", "-U", "scott", "-P", "tiger", "-S", "orcl"})
    switches.push_back(s);
  const fs::path previous = fs::current_path();
  fs::current_path(where);  // the backup directory goes there
  Outcome r = RunIn(env, switches);
  fs::current_path(previous);
  return r;
}

// Another run holds the lock until this one has tried `release_after` times.
class OtherRunEnv final : public test::FaultEnv {
 public:
  OtherRunEnv(const std::string& path, int release_after)
      : FaultEnv(0), release_after_(release_after) {
    LockFailure failure;
    held_ = Env::Default()->LockExclusive(path, &failure);
  }
  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, LockFailure* failure) override {
    if (tries_++ == release_after_) held_.reset();
    return FaultEnv::LockExclusive(path, failure);
  }

 private:
  int release_after_;
  int tries_ = 0;
  std::unique_ptr<HeldLock> held_;
};

TEST(OutputLockWait, AnotherRunIsWaitedForAndALockThatCannotBeTakenStopsTheRun) {
  struct Case {
    const char* name;
    int release_after;  // tries before the other run lets go; INT_MAX: never
    bool lock_call_fails;
    int code;
    int sleeps;
  };
  const Case cases[] = {
      {"released at the fourth try", 3, false, 0, 3},
      {"released at the last try", 20, false, 0, 20},
      {"never released", INT_MAX, false, 1, 20},
      {"no locks on the mount", 0, true, 1, 0},
  };
  test::TempDir scratch;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path where = scratch.path() / c.name;
    fs::create_directories(where / "out");
    OtherRunEnv env((where / "out" / kOutputLockName).string(), c.release_after);
    if (c.lock_call_fails) env.FailFirst("LockExclusive");
    const Outcome r = RunBatch(env, where, {"-p", "-I"});
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_EQ(env.sleeps(), c.sleeps);
    EXPECT_EQ(env.slept_milliseconds(), 100 * c.sleeps);
    EXPECT_EQ(env.scripts_run().size(), c.code == 0 ? 2u : 0u);
    EXPECT_EQ(fs::exists(where / "out" / "Output1.tvr"), c.code == 0);
    if (c.lock_call_fails) {
      EXPECT_EQ(r.err, "\n\n[Tavrin] Error: Unable to lock the output directory out. Process "
                       "aborted.\n\tReason: " +
                           env.ErrorText(test::FaultEnv::kNoLocks) + "\n");
    }
  }
}

// The run's lock, whose file is taken away at the `lost_at`-th look.
class TakenAwayLock final : public HeldLock {
 public:
  TakenAwayLock(std::unique_ptr<HeldLock> real, int lost_at)
      : real_(std::move(real)), lost_at_(lost_at) {}
  bool Intact() override { return ++looks_ < lost_at_ && real_->Intact(); }

 private:
  std::unique_ptr<HeldLock> real_;
  int lost_at_;
  int looks_ = 0;
};

class TakenAwayEnv final : public test::FaultEnv {
 public:
  explicit TakenAwayEnv(int lost_at) : FaultEnv(0), lost_at_(lost_at) {}
  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, LockFailure* failure) override {
    auto lock = FaultEnv::LockExclusive(path, failure);
    if (!lock) return nullptr;
    return std::make_unique<TakenAwayLock>(std::move(lock), lost_at_);
  }

 private:
  int lost_at_;
};

// The journal's states in order, one word each.
std::string JournalStates(const fs::path& path) {
  std::istringstream lines(fs::exists(path) ? test::ReadFile(path) : "");
  std::string states;
  for (std::string line; std::getline(lines, line);)
    states += (states.empty() ? "" : " ") + line.substr(65, line.find(' ', 65) - 65);
  return states;
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
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("look " + std::to_string(c.lost_at) + (c.history ? " with -H" : ""));
    const fs::path where = scratch.path() / std::to_string(++number);
    TakenAwayEnv env(c.lost_at);
    const Outcome r =
        RunBatch(env, where, c.history ? std::vector<std::string>{"-p", "-I", "-m", "-H"}
                                       : std::vector<std::string>{"-p", "-I", "-m"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "\n[ImportLogFiles] Error: The lock file " + JoinPath("out", kOutputLockName) +
                         " was deleted or replaced while this run held it. Import abandoned.\n");
    EXPECT_EQ(r.out.find("Time elapsed"), std::string::npos);
    std::string clients;
    for (const auto& [name, bytes] : env.scripts_run()) clients += (clients.empty() ? "" : " ") + name;
    EXPECT_EQ(clients, c.clients);
    EXPECT_EQ(JournalStates(where / "out" / kImportJournalName), c.journal);
    int backup = 0;
    for (const auto& entry : fs::directory_iterator(where))
      if (entry.path().filename().string().starts_with("Processed_"))
        backup = fs::exists(entry.path() / "a.sql") ? 2 : 1;
    EXPECT_EQ(backup, c.backup);
    EXPECT_EQ(fs::exists(where / "in" / "a.sql"), c.backup < 2);
  }
}

}  // namespace
}  // namespace tavrin

// A run finds its output directory's lock taken: it ends before it reads an
// input or writes anything.

#include "driver/output_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "driver/driver.h"
#include "platform/path.h"
#include "support/env_wrapper.h"
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
  bool busy = false;
  auto held = Env::Default()->LockExclusive(JoinPath(Out(), kOutputLockName), &busy);
  ASSERT_NE(held, nullptr);

  Outcome r = RunIn(env_, {"-l", "-p", "-I", "-m", "-i", In(), "-o", Out(), "-S", "orcl"});
  EXPECT_EQ(r.code, 1);
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

}  // namespace
}  // namespace tavrin

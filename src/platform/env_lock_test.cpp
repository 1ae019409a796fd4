// The exclusive file lock of the real system's Env, within this process and
// against a child that dies holding it.

#include <gtest/gtest.h>

#include "platform/env.h"
#include "platform/path.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(SystemEnvLock, OneHolderAtATimeAndTheFileStays) {
  TempDir dir;
  Env& env = *Env::Default();
  const std::string path = JoinPath(dir.path().string(), "tavrin.lock");
  bool busy = true;
  auto first = env.LockExclusive(path, &busy);
  ASSERT_NE(first, nullptr) << env.ErrorText(env.LastError());
  EXPECT_FALSE(busy);
  EXPECT_EQ(ReadFile(path), "");
  // A second opening of the file, even in this process, finds it taken.
  EXPECT_EQ(env.LockExclusive(path, &busy), nullptr);
  EXPECT_TRUE(busy);
  first.reset();
  auto again = env.LockExclusive(path, &busy);
  EXPECT_NE(again, nullptr);
  again.reset();
  EXPECT_TRUE(std::filesystem::exists(path));

  // An existing file is never truncated.
  WriteFile(path, "left by hand");
  again = env.LockExclusive(path, &busy);
  EXPECT_NE(again, nullptr);
  EXPECT_EQ(ReadFile(path), "left by hand");
}

TEST(SystemEnvLock, MissingDirectoryIsAFailureNotABusyLock) {
  TempDir dir;
  Env& env = *Env::Default();
  bool busy = true;
  auto lock = env.LockExclusive(JoinPath((dir.path() / "missing").string(), "tavrin.lock"), &busy);
  EXPECT_EQ(lock, nullptr);
  EXPECT_FALSE(busy);
  EXPECT_NE(env.LastError(), 0);
}

std::string LockProbe() {
#ifdef _WIN32
  return "tavrin_lock_probe";  // beside the test program, where the search starts
#else
  return TAVRIN_LOCK_PROBE;
#endif
}

// What the probe said about `lock_path`, and how it ended.
std::string RunProbe(const TempDir& dir, const std::string& lock_path, ChildExit* exit) {
  Env& env = *Env::Default();
  const std::string said = JoinPath(dir.path().string(), "probe.out");
  auto out = env.CreateOutput(said);
  EXPECT_NE(out, nullptr);
  ChildCommand command;
  command.argv = {LockProbe(), lock_path};
  command.stdout_file = out.get();
  EXPECT_TRUE(env.RunChild(command, exit)) << env.ErrorText(env.LastError());
  out->Close();
  return ReadFile(said);
}

TEST(SystemEnvLock, AnotherProcessIsExcludedAndADeadHolderReleasesIt) {
  TempDir dir;
  Env& env = *Env::Default();
  const std::string path = JoinPath(dir.path().string(), "tavrin.lock");
  bool busy = false;
  auto held = env.LockExclusive(path, &busy);
  ASSERT_NE(held, nullptr);
  ChildExit exit;
  EXPECT_EQ(RunProbe(dir, path, &exit), "busy");
  held.reset();

  // The probe takes the lock and is killed holding it.
  EXPECT_EQ(RunProbe(dir, path, &exit), "locked");
#ifndef _WIN32
  EXPECT_TRUE(exit.signaled);
#endif
  held = env.LockExclusive(path, &busy);
  EXPECT_NE(held, nullptr) << "a killed holder still blocks the lock";
  EXPECT_FALSE(busy);
}

}  // namespace
}  // namespace tavrin

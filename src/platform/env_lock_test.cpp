// The exclusive file lock of the real system's Env, within this process and
// against a child that dies holding it.

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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
  LockFailure failure = LockFailure::kBusy;
  auto first = env.LockExclusive(path, &failure);
  ASSERT_NE(first, nullptr) << env.ErrorText(env.LastError());
  EXPECT_EQ(failure, LockFailure::kNone);
  EXPECT_TRUE(first->Intact());
  EXPECT_EQ(ReadFile(path), "");
  // A second opening of the file, even in this process, finds it taken.
  EXPECT_EQ(env.LockExclusive(path, &failure), nullptr);
  EXPECT_EQ(failure, LockFailure::kBusy);
  first.reset();
  auto again = env.LockExclusive(path, &failure);
  EXPECT_NE(again, nullptr);
  again.reset();
  EXPECT_TRUE(std::filesystem::exists(path));

  // An existing file is never truncated.
  WriteFile(path, "left by hand");
  again = env.LockExclusive(path, &failure);
  EXPECT_NE(again, nullptr);
  EXPECT_EQ(ReadFile(path), "left by hand");
}

TEST(SystemEnvLock, MissingDirectoryIsAFileThatCannotBeOpenedNotABusyLock) {
  TempDir dir;
  Env& env = *Env::Default();
  LockFailure failure = LockFailure::kBusy;
  auto lock =
      env.LockExclusive(JoinPath((dir.path() / "missing").string(), "tavrin.lock"), &failure);
  EXPECT_EQ(lock, nullptr);
  EXPECT_EQ(failure, LockFailure::kCannotOpen);
  EXPECT_NE(env.LastError(), 0);
}

// A held lock file that is deleted, or that another file replaces, lets a
// second run lock a new file of that name. Windows refuses both; on Linux the
// holder sees it.
TEST(SystemEnvLock, HeldLockFileTakenAwayIsRefusedOrSeen) {
  for (const bool replace : {false, true}) {
    TempDir dir;
    const std::filesystem::path path = dir.path() / "tavrin.lock", other = dir.path() / "new";
    LockFailure failure = LockFailure::kNone;
    auto held = Env::Default()->LockExclusive(path.string(), &failure);
    ASSERT_NE(held, nullptr);
    WriteFile(other, "");
#ifdef _WIN32
    EXPECT_FALSE(replace ? ::MoveFileExW(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)
                         : ::DeleteFileW(path.c_str()));
    EXPECT_TRUE(held->Intact());
#else
    if (replace) std::filesystem::rename(other, path);
    else std::filesystem::remove(path);
    EXPECT_FALSE(held->Intact()) << replace;
#endif
  }
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
  LockFailure failure = LockFailure::kNone;
  auto held = env.LockExclusive(path, &failure);
  ASSERT_NE(held, nullptr);
  ChildExit exit;
  EXPECT_EQ(RunProbe(dir, path, &exit), "busy");
  held.reset();

  // The probe takes the lock and is killed holding it.
  EXPECT_EQ(RunProbe(dir, path, &exit), "locked");
#ifndef _WIN32
  EXPECT_TRUE(exit.signaled);
#endif
  held = env.LockExclusive(path, &failure);
  EXPECT_NE(held, nullptr) << "a killed holder still blocks the lock";
  EXPECT_EQ(failure, LockFailure::kNone);
}

}  // namespace
}  // namespace tavrin

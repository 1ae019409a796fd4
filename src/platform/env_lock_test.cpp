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

// Takes the file at `path` away as an operator would: "delete", "rename
// away" or "replace" (another file renamed over it). False when the system
// refused.
bool TakeAway(const std::string& how, const std::filesystem::path& path) {
  const std::filesystem::path other = path.parent_path() / "other.lock";
  if (how == "replace") WriteFile(other, "");
#ifdef _WIN32
  if (how == "delete") return ::DeleteFileW(path.wstring().c_str());
  if (how == "rename away") return ::MoveFileExW(path.wstring().c_str(), other.wstring().c_str(), 0);
  return ::MoveFileExW(other.wstring().c_str(), path.wstring().c_str(), MOVEFILE_REPLACE_EXISTING);
#else
  std::error_code error;
  if (how == "delete") return std::filesystem::remove(path, error);
  if (how == "rename away") std::filesystem::rename(path, other, error);
  if (how == "replace") std::filesystem::rename(other, path, error);
  return !error;
#endif
}

// A lock file taken away while held lets a second run lock a new file of
// that name. Windows refuses to take it away; on Linux the holder sees it.
TEST(SystemEnvLock, HeldLockFileTakenAwayIsRefusedOrSeen) {
  const std::vector<std::string> ways = {"delete", "rename away", "replace"};
  for (const std::string& how : ways) {
    SCOPED_TRACE(how);
    TempDir dir;
    Env& env = *Env::Default();
    const std::filesystem::path path = dir.path() / "tavrin.lock";
    LockFailure failure = LockFailure::kNone;
    auto held = env.LockExclusive(path.string(), &failure);
    ASSERT_NE(held, nullptr);
    const bool taken = TakeAway(how, path);
#ifdef _WIN32
    EXPECT_FALSE(taken) << "the held lock file could be taken away";
    EXPECT_TRUE(held->Intact());
    EXPECT_EQ(env.LockExclusive(path.string(), &failure), nullptr);
    EXPECT_EQ(failure, LockFailure::kBusy);
#else
    ASSERT_TRUE(taken);
    EXPECT_FALSE(held->Intact());
    EXPECT_NE(env.LockExclusive(path.string(), &failure), nullptr) << "a second run gets in";
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

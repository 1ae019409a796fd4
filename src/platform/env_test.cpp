// The real system's Env, on a scratch directory.

#include "platform/env.h"

#include <gtest/gtest.h>

#include "platform/path.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(SystemEnv, ListsMatchesInByteOrderWithSubDirectoriesAndWithoutDots) {
  TempDir dir;
  for (const char* name : {"b.sql", "B.SQL", "a.sql", "10.sql", "9.sql", "c.txt"})
    WriteFile(dir.path() / name, "");
  std::filesystem::create_directory(dir.path() / "sub.sql");
  Env& env = *Env::Default();
  std::vector<std::string> names;
  ASSERT_TRUE(env.ListMatches(JoinPath(dir.path().string(), "*.sql"), &names));
  EXPECT_EQ(names, (std::vector<std::string>{"10.sql", "9.sql", "B.SQL", "a.sql", "b.sql", "sub.sql"}));

  EXPECT_FALSE(env.ListMatches(JoinPath(dir.path().string(), "*.tvr"), &names));
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(env.ListMatches(JoinPath((dir.path() / "missing").string(), "*.sql"), &names));
}

TEST(SystemEnv, MovesNeverReplaceAndDirectoriesAreMadeOnce) {
  TempDir dir;
  Env& env = *Env::Default();
  const std::string from = (dir.path() / "a").string();
  const std::string to = (dir.path() / "b").string();
  WriteFile(from, "first");
  WriteFile(to, "second");
  EXPECT_FALSE(env.MoveNoReplace(from, to));
  EXPECT_EQ(ReadFile(to), "second");
  EXPECT_EQ(ReadFile(from), "first");
  EXPECT_FALSE(env.MoveNoReplace((dir.path() / "gone").string(), (dir.path() / "c").string()));

  const std::string sub = (dir.path() / "d").string();
  EXPECT_TRUE(env.MakeDirectory(sub));
  EXPECT_FALSE(env.MakeDirectory(sub));
  EXPECT_TRUE(env.MoveNoReplace(from, JoinPath(sub, "a")));
  EXPECT_EQ(ReadFile(std::filesystem::path(sub) / "a"), "first");
}

TEST(SystemEnv, RefusesToReadADirectory) {
  TempDir dir;
  Env& env = *Env::Default();
  EXPECT_EQ(env.OpenForReading(dir.path().string()), nullptr);
  EXPECT_EQ(env.OpenForReading((dir.path() / "missing").string()), nullptr);
  EXPECT_NE(env.LastError(), 0);
}

TEST(SystemEnv, ChildOutputGoesToTheFileAndArgumentsStayWhole) {
  TempDir dir;
  Env& env = *Env::Default();
  auto out = env.CreateOutput((dir.path() / "out").string());
  ASSERT_NE(out, nullptr);
  ChildSpec spec;
  spec.argv = {"sh", "-c", "printf '%s|' \"$@\"; pwd; exit 3", "sh", "a b", "'\"@x", ""};
  spec.stdout_file = out.get();
  spec.working_directory = dir.path().string();
  ChildExit exit;
  ASSERT_TRUE(env.RunChild(spec, &exit));
  out->Close();
  EXPECT_FALSE(exit.signaled);
  EXPECT_EQ(exit.code, 3);
  EXPECT_EQ(ReadFile(dir.path() / "out"), "a b|'\"@x||" + dir.path().string() + "\n");

  spec.argv = {"tavrin-no-such-program"};
  EXPECT_FALSE(env.RunChild(spec, &exit));
  EXPECT_EQ(env.LastError(), 2);  // "file not found" on both systems
}

}  // namespace
}  // namespace tavrin

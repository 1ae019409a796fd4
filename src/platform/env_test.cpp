// The real system's Env, on a scratch directory.

#include "platform/env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/path.h"
#include "platform/unique_output.h"
#include "platform/version.h"
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
#ifdef _WIN32
  // Windows lists in the file system's own order, and "B.SQL" was "b.sql" again.
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"10.sql", "9.sql", "a.sql", "b.sql", "sub.sql"}));
#else
  EXPECT_EQ(names, (std::vector<std::string>{"10.sql", "9.sql", "B.SQL", "a.sql", "b.sql", "sub.sql"}));
#endif

  // Searched and found nothing: no error. Not searched: the reason.
  EXPECT_FALSE(env.ListMatches(JoinPath(dir.path().string(), "*.tvr"), &names));
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(env.LastError(), 0);
  EXPECT_FALSE(env.ListMatches(JoinPath((dir.path() / "missing").string(), "*.sql"), &names));
  EXPECT_NE(env.LastError(), 0);
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
  bool exists = true;
  EXPECT_TRUE(env.MakeDirectory(sub, &exists));
  EXPECT_FALSE(exists);
  EXPECT_FALSE(env.MakeDirectory(sub, &exists));
  EXPECT_TRUE(exists);
  EXPECT_FALSE(env.MakeDirectory((dir.path() / "missing" / "d").string(), &exists));
  EXPECT_FALSE(exists);
  EXPECT_TRUE(env.MoveNoReplace(from, JoinPath(sub, "a")));
  EXPECT_EQ(ReadFile(std::filesystem::path(sub) / "a"), "first");
  EXPECT_FALSE(std::filesystem::exists(from));
}

TEST(SystemEnv, RenameReplacesAndRemoveRemoves) {
  TempDir dir;
  Env& env = *Env::Default();
  const std::string from = (dir.path() / "new.part").string();
  const std::string to = (dir.path() / "old").string();
  WriteFile(from, "new");
  WriteFile(to, "old");
  EXPECT_TRUE(env.RenameReplacing(from, to));
  EXPECT_EQ(ReadFile(to), "new");
  EXPECT_FALSE(std::filesystem::exists(from));
  EXPECT_FALSE(env.RenameReplacing(from, to));
  EXPECT_EQ(ReadFile(to), "new");

  EXPECT_TRUE(env.RemoveFile(to));
  EXPECT_FALSE(std::filesystem::exists(to));
  EXPECT_FALSE(env.RemoveFile(to));
  EXPECT_NE(env.LastError(), 0);
}

TEST(SystemEnv, NewOutputsNeverReplaceAFile) {
  TempDir dir;
  Env& env = *Env::Default();
  const std::string stem = (dir.path() / "run").string();
  WriteFile(stem + ".log", "first");
  WriteFile(stem + "_2.log", "second");

  bool exists = false;
  EXPECT_EQ(env.CreateNewOutput(stem + ".log", &exists), nullptr);
  EXPECT_TRUE(exists);
  std::string path;
  auto file = CreateUniqueOutput(env, stem, ".log", &path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(path, stem + "_3.log");
  EXPECT_TRUE(file->Append("third") && file->Close());
  EXPECT_EQ(ReadFile(stem + ".log"), "first");
  EXPECT_EQ(ReadFile(stem + "_2.log"), "second");
  EXPECT_EQ(ReadFile(path), "third");

  // A directory that does not exist is a failure, not a taken name.
  EXPECT_EQ(CreateUniqueOutput(env, (dir.path() / "missing" / "run").string(), ".log", &path),
            nullptr);
}

TEST(SystemEnv, AppendsAtTheEndAndSyncs) {
  TempDir dir;
  Env& env = *Env::Default();
  const std::string path = (dir.path() / "journal").string();
  for (const char* line : {"one\n", "two\n"}) {
    auto file = env.OpenForAppending(path);  // made by the first, kept by the second
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Append(line));
    EXPECT_TRUE(file->Sync());
    // Readable while it is open for writing.
    EXPECT_NE(env.OpenForReading(path), nullptr);
    EXPECT_TRUE(file->Close());
    EXPECT_FALSE(file->Sync());
  }
  EXPECT_EQ(ReadFile(path), "one\ntwo\n");
  EXPECT_EQ(env.OpenForAppending(dir.path().string()), nullptr);
  EXPECT_EQ(env.OpenForAppending((dir.path() / "missing" / "journal").string()), nullptr);
  EXPECT_NE(env.LastError(), 0);
}

TEST(SystemEnv, RefusesToReadADirectory) {
  TempDir dir;
  Env& env = *Env::Default();
  EXPECT_EQ(env.OpenForReading(dir.path().string()), nullptr);
  EXPECT_EQ(env.OpenForReading((dir.path() / "missing").string()), nullptr);
  EXPECT_NE(env.LastError(), 0);
}

#ifndef _WIN32
TEST(SystemEnv, ChildOutputGoesToTheFileAndArgumentsStayWhole) {
  TempDir dir;
  Env& env = *Env::Default();
  auto out = env.CreateOutput((dir.path() / "out").string());
  ASSERT_NE(out, nullptr);
  ChildCommand command;
  command.argv = {"sh", "-c", "printf '%s|' \"$@\"; pwd; exit 3", "sh", "a b", "'\"@x", ""};
  command.stdout_file = out.get();
  command.working_directory = dir.path().string();
  ChildExit exit;
  ASSERT_TRUE(env.RunChild(command, &exit));
  out->Close();
  EXPECT_FALSE(exit.signaled);
  EXPECT_EQ(exit.code, 3);
  EXPECT_EQ(ReadFile(dir.path() / "out"), "a b|'\"@x||" + dir.path().string() + "\n");

  command.argv = {"tavrin-no-such-program"};
  EXPECT_FALSE(env.RunChild(command, &exit));
  EXPECT_EQ(env.LastError(), 2);  // "file not found" on both systems
}

TEST(SystemEnv, ChildInheritsOnlyItsStandardDescriptors) {
  // A file we hold open, as the log file is while sqlplus runs.
  TempDir dir;
  std::FILE* held = std::fopen((dir.path() / "held").string().c_str(), "wb");
  ASSERT_NE(held, nullptr);
  Env& env = *Env::Default();
  auto out = env.CreateOutput((dir.path() / "out").string());
  ChildCommand command;
  command.argv = {"sh", "-c", "ls /dev/fd/ | wc -l"};  // 0, 1, 2 and the one ls reads
  command.stdout_file = out.get();
  ChildExit exit;
  ASSERT_TRUE(env.RunChild(command, &exit));
  out->Close();
  EXPECT_EQ(ReadFile(dir.path() / "out"), "4\n");

  // With an input pipe, its read end is descriptor 0 and our write end stays ours.
  out = env.CreateOutput((dir.path() / "out").string());
  command.argv = {"sh", "-c", "ls /dev/fd/ | wc -l; readlink /proc/self/fd/0 | cut -c1-5"};
  command.stdout_file = out.get();
  command.stdin_text = "secret\n";
  ASSERT_TRUE(env.RunChild(command, &exit));
  out->Close();
  std::fclose(held);
  EXPECT_EQ(ReadFile(dir.path() / "out"), "4\npipe:\n");
}

// Whether a rename from directory `a` to directory `b` has to cross file systems.
bool CrossesFileSystems(const std::filesystem::path& a, const std::filesystem::path& b) {
  WriteFile(a / "probe", "");
  std::error_code error, ignored;
  std::filesystem::rename(a / "probe", b / "probe", error);
  std::filesystem::remove(a / "probe", ignored);
  std::filesystem::remove(b / "probe", ignored);
  return error == std::errc::cross_device_link;
}

TEST(SystemEnv, MovesAcrossFileSystemsByACheckedCopy) {
  namespace fs = std::filesystem;
  // A tmpfs against the build tree.
  const fs::path build = fs::path(TAVRIN_CHILD_PROBE).parent_path();
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no second file system: /dev/shm is missing";
  TempDir far("/dev/shm");
  TempDir near(build);
  if (!CrossesFileSystems(far.path(), near.path()))
    GTEST_SKIP() << "no second file system: /dev/shm and " << build << " are one";
  Env& env = *Env::Default();
  auto at = [](const TempDir& dir, const char* name) { return (dir.path() / name).string(); };

  // Larger than one copy buffer, in both directions; the time stamp goes along.
  std::string bytes(300000, 'x');
  for (std::size_t i = 0; i < bytes.size(); i += 7) bytes[i] = static_cast<char>(i);
  WriteFile(at(far, "a.sql"), bytes);
  const auto stamp = fs::file_time_type(std::chrono::seconds(1700000000));
  fs::last_write_time(at(far, "a.sql"), stamp);
  ASSERT_TRUE(env.MoveNoReplace(at(far, "a.sql"), at(near, "a.sql")))
      << env.ErrorText(env.LastError());
  EXPECT_FALSE(fs::exists(at(far, "a.sql")));
  EXPECT_EQ(ReadFile(at(near, "a.sql")), bytes);
  EXPECT_EQ(fs::last_write_time(at(near, "a.sql")), stamp);
  WriteFile(at(near, "empty"), "");
  ASSERT_TRUE(env.MoveNoReplace(at(near, "empty"), at(far, "empty")));
  EXPECT_FALSE(fs::exists(at(near, "empty")));
  EXPECT_TRUE(fs::exists(at(far, "empty")));

  // A taken name is never replaced, and both files stay as they were.
  WriteFile(at(far, "b.sql"), "mine");
  WriteFile(at(near, "b.sql"), "theirs");
  EXPECT_FALSE(env.MoveNoReplace(at(far, "b.sql"), at(near, "b.sql")));
  EXPECT_EQ(env.LastError(), EEXIST);
  EXPECT_EQ(ReadFile(at(far, "b.sql")), "mine");
  EXPECT_EQ(ReadFile(at(near, "b.sql")), "theirs");

  // No place for the copy: the original stays.
  EXPECT_FALSE(env.MoveNoReplace(at(far, "b.sql"), (near.path() / "missing" / "b.sql").string()));
  EXPECT_EQ(env.LastError(), ENOENT);
  EXPECT_EQ(ReadFile(at(far, "b.sql")), "mine");

  // Directories are not copied.
  fs::create_directory(far.path() / "sub");
  EXPECT_FALSE(env.MoveNoReplace(at(far, "sub"), at(near, "sub")));
  EXPECT_EQ(env.LastError(), EXDEV);
  EXPECT_TRUE(fs::is_directory(far.path() / "sub"));
  EXPECT_FALSE(fs::exists(near.path() / "sub"));
}
#endif

// The probe child writes its arguments, working directory and one variable.
std::string ChildProbe() {
#ifdef _WIN32
  return "tavrin_child_probe";  // beside the test program, where the search starts
#else
  return TAVRIN_CHILD_PROBE;
#endif
}

TEST(SystemEnv, ChildGetsExactlyItsArgumentsDirectoryAndVariables) {
  TempDir dir;
  Env& env = *Env::Default();
  const std::vector<std::string> arguments = {
      "scott/tiger@orcl",     "a b",          "",
      "tab\there",            "'\"@x",        R"(say "hi")",
      R"(C:\dir with blank\)", R"(back\\"quote)", R"(\\server\share)",
      std::string("@").append(JoinPath(dir.path().string(), "Output1.tvr"))};
  ChildCommand command;
  command.argv = {ChildProbe()};
  command.argv.insert(command.argv.end(), arguments.begin(), arguments.end());
  command.working_directory = dir.path().string();
  command.environment = {{"TAVRIN_PROBE_VALUE", "set for the child"}};
  auto out = env.CreateOutput((dir.path() / "out").string());
  ASSERT_NE(out, nullptr);
  command.stdout_file = out.get();
  ChildExit exit;
  ASSERT_TRUE(env.RunChild(command, &exit)) << env.ErrorText(env.LastError());
  out->Close();
  std::string expected;
  for (const std::string& argument : arguments) expected.append(argument).append("|");
  expected.append(dir.path().string()).append("|set for the child");
  EXPECT_EQ(ReadFile(dir.path() / "out"), expected);
  EXPECT_FALSE(exit.signaled);
  EXPECT_EQ(exit.code, static_cast<int>(arguments.size()));

  // Without a file the child writes where we do, and without variables it has ours.
  out = env.CreateOutput((dir.path() / "out").string());
  ChildCommand bare;
  bare.argv = {ChildProbe()};
  bare.stdout_file = out.get();
  ASSERT_TRUE(env.RunChild(bare, &exit));
  out->Close();
  EXPECT_EQ(ReadFile(dir.path() / "out"), std::filesystem::current_path().string() + "|(unset)");
  EXPECT_EQ(exit.code, 0);
}

TEST(SystemEnv, ChildReadsItsInputTextThenEndOfInput) {
  TempDir dir;
  Env& env = *Env::Default();
  // Far more than a pipe holds at once, as a long password may be.
  const std::string long_text = std::string(1 << 20, 'a') + "\n";
  for (const std::string& text : {std::string("pass word\n"), long_text, std::string()}) {
    SCOPED_TRACE(text.size());
    auto out = env.CreateOutput((dir.path() / "out").string());
    ASSERT_NE(out, nullptr);
    ChildCommand command;
    command.argv = {ChildProbe()};
    command.environment = {{"TAVRIN_PROBE_READ_INPUT", "1"}};
    command.stdout_file = out.get();
    command.stdin_text = text;
    ChildExit exit;
    ASSERT_TRUE(env.RunChild(command, &exit)) << env.ErrorText(env.LastError());
    out->Close();
    std::string echoed = text;
#ifdef _WIN32
    // The probe writes in text mode: every LF goes out as CR LF.
    echoed.clear();
    for (char c : text) echoed.append(c == '\n' ? "\r\n" : std::string(1, c));
#endif
    EXPECT_EQ(ReadFile(dir.path() / "out"),
              std::filesystem::current_path().string() + "|(unset)|" + echoed);
  }
}

TEST(SystemEnv, ChildThatNeverReadsItsInputEndsAndWeGoOn) {
  // The child ends without reading: the rest of the text has nowhere to go.
  // That must neither stop nor end us.
  TempDir dir;
  Env& env = *Env::Default();
  for (int round = 0; round < 2; ++round) {
    auto out = env.CreateOutput((dir.path() / "out").string());
    ASSERT_NE(out, nullptr);
    ChildCommand command;
    command.argv = {ChildProbe(), "one"};
    command.stdout_file = out.get();
    command.stdin_text = std::string(4 << 20, 'p') + "\n";
    ChildExit exit;
    ASSERT_TRUE(env.RunChild(command, &exit)) << env.ErrorText(env.LastError());
    out->Close();
    EXPECT_FALSE(exit.signaled);
    EXPECT_EQ(exit.code, 1);
    EXPECT_EQ(ReadFile(dir.path() / "out"), "one|" + std::filesystem::current_path().string() + "|(unset)");
  }
}

TEST(SystemEnv, MissingProgramIsFileNotFound) {
  Env& env = *Env::Default();
  ChildCommand command;
  command.argv = {"tavrin-no-such-program"};
  ChildExit exit;
  EXPECT_FALSE(env.RunChild(command, &exit));
  EXPECT_EQ(env.LastError(), 2);
  command.argv = {};
  EXPECT_FALSE(env.RunChild(command, &exit));
}

TEST(SystemEnv, OwnVersionIsTheBuilds) {
  VersionInfo info;
  ASSERT_TRUE(Env::Default()->ReadOwnVersion(&info));
  EXPECT_EQ(info.product_name, TAVRIN_PRODUCT_NAME);
  EXPECT_TRUE(info.has_file_version);
  EXPECT_EQ(info.major, TAVRIN_VERSION_MAJOR);
  EXPECT_EQ(info.minor, TAVRIN_VERSION_MINOR);
  EXPECT_EQ(info.patch, TAVRIN_VERSION_PATCH);
  EXPECT_EQ(info.build, TAVRIN_VERSION_BUILD);
}

}  // namespace
}  // namespace tavrin

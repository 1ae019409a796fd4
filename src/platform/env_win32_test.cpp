// What the Win32 Env does about handles and the program search, beyond what
// every Env promises.

#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "platform/env.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

fs::path OwnDirectory() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}

std::string HandleValue(HANDLE handle) {
  return std::to_string(reinterpret_cast<std::uintptr_t>(handle));
}

TEST(Win32Env, ChildInheritsOnlyItsStandardHandles) {
  TempDir dir;
  // Two inheritable handles, as the C runtime makes the files it opens: a
  // log file and another one. The child must get neither.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE log_handle = ::CreateFileW((dir.path() / "run.log").wstring().c_str(), GENERIC_WRITE, 0,
                                    &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(log_handle, INVALID_HANDLE_VALUE);
  HANDLE other = ::CreateFileW((dir.path() / "other.txt").wstring().c_str(), GENERIC_WRITE, 0,
                               &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);

  Env& env = *Env::Default();
  auto out = env.CreateOutput((dir.path() / "out.txt").string());
  ASSERT_NE(out, nullptr);
  ChildCommand command;
  command.argv = {"tavrin_handle_probe", HandleValue(log_handle), HandleValue(other)};
  command.stdout_file = out.get();
  ChildExit exit;
  ASSERT_TRUE(env.RunChild(command, &exit)) << env.ErrorText(env.LastError());
  out->Close();
  ::CloseHandle(log_handle);
  ::CloseHandle(other);
  EXPECT_EQ(ReadFile(dir.path() / "out.txt"), "- - |out.txt");
}

// Puts the process in `directory` for the life of the object.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const fs::path& directory) : before_(fs::current_path()) {
    fs::current_path(directory);
  }
  ~WorkingDirectory() { fs::current_path(before_); }

 private:
  fs::path before_;
};

// Sets the search path for the life of the object.
class SearchPath {
 public:
  explicit SearchPath(const fs::path& value) {
    wchar_t buffer[32768];
    DWORD n = ::GetEnvironmentVariableW(L"PATH", buffer, 32768);
    before_.assign(buffer, n < 32768 ? n : 0);
    ::SetEnvironmentVariableW(L"PATH", value.wstring().c_str());
  }
  ~SearchPath() { ::SetEnvironmentVariableW(L"PATH", before_.c_str()); }

 private:
  std::wstring before_;
};

TEST(Win32Env, NeverRunsAProgramFromTheWorkingDirectory) {
  TempDir dir;
  fs::copy_file(OwnDirectory() / "tavrin_child_probe.exe", dir.path() / "tavrin_planted.exe");
  Env& env = *Env::Default();
  ChildCommand command;
  command.argv = {"tavrin_planted"};
  ChildExit exit;
  {
    WorkingDirectory here(dir.path());
    EXPECT_FALSE(env.RunChild(command, &exit));
    EXPECT_EQ(env.LastError(), ERROR_FILE_NOT_FOUND);
  }
  // The same folder on the search path is fine: the operator put it there.
  SearchPath path(dir.path());
  auto out = env.CreateOutput((dir.path() / "out.txt").string());
  command.stdout_file = out.get();
  EXPECT_TRUE(env.RunChild(command, &exit)) << env.ErrorText(env.LastError());
  out->Close();
  EXPECT_EQ(ReadFile(dir.path() / "out.txt"), fs::current_path().string() + "|(unset)");
}

TEST(Win32Env, SearchesMatchLongNamesOnlyNotTheirShortNames) {
  // "audit.sqlbak" is AUDIT~1.SQL to the system's own search, which "*.sql"
  // matches; likewise "Output1.tvrold" for "*.tvr".
  TempDir dir;
  for (const char* name : {"a.sql", "audit.sqlbak", "Output1.tvr", "Output1.tvrold", "x.olog",
                           "import1.ologx"})
    test::WriteFile(dir.path() / name, "");
  Env& env = *Env::Default();
  std::vector<std::string> names;
  ASSERT_TRUE(env.ListMatches((dir.path() / "*.sql").string(), &names));
  EXPECT_EQ(names, std::vector<std::string>{"a.sql"});
  ASSERT_TRUE(env.ListMatches((dir.path() / "*.tvr").string(), &names));
  EXPECT_EQ(names, std::vector<std::string>{"Output1.tvr"});
  ASSERT_TRUE(env.ListMatches((dir.path() / "*.olog").string(), &names));
  EXPECT_EQ(names, std::vector<std::string>{"x.olog"});

  // Only a look-alike: nothing matches.
  fs::remove(dir.path() / "a.sql");
  EXPECT_FALSE(env.ListMatches((dir.path() / "*.sql").string(), &names));
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(env.LastError(), 0);  // searched, and nothing matched

  // The look-alike is there for the system's search, so the filter is what
  // keeps it out.
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((dir.path() / "*.sql").wstring().c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    EXPECT_STREQ(found.cFileName, L"audit.sqlbak");
    ::FindClose(search);
  }
}

TEST(Win32Env, ErrorTextIsTheSystemsWithoutLineEnd) {
  std::string text = Env::Default()->ErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');
}

}  // namespace
}  // namespace tavrin

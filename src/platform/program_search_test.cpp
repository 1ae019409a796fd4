#include "platform/program_search.h"

#include <gtest/gtest.h>

#include <set>

namespace tavrin {
namespace {

TEST(ProgramSearch, OnlyNamesWithoutDirectoryAreSearched) {
  EXPECT_TRUE(IsBareProgramName("sqlplus"));
  EXPECT_TRUE(IsBareProgramName("sqlplus.exe"));
  EXPECT_FALSE(IsBareProgramName(R"(.\sqlplus)"));
  EXPECT_FALSE(IsBareProgramName("bin/sqlplus"));
  EXPECT_FALSE(IsBareProgramName("C:sqlplus.exe"));
}

TEST(ProgramSearch, SearchPathDropsEmptyEntriesAndQuotes) {
  EXPECT_EQ(SplitSearchPath(R"(C:\a;;"C:\Program Files\b";D:\c\;)"),
            (std::vector<std::string>{R"(C:\a)", R"(C:\Program Files\b)", R"(D:\c\)"}));
  // Entries that mean the working directory, or a place below it.
  EXPECT_EQ(SplitSearchPath(R"(.;bin;.\x;C:bin;"";\\srv\bin;\tools;z:/x)"),
            (std::vector<std::string>{R"(\\srv\bin)", R"(\tools)", "z:/x"}));
  EXPECT_TRUE(SplitSearchPath("").empty());
  EXPECT_TRUE(SplitSearchPath(";;").empty());
}

TEST(ProgramSearch, PosixSearchPathDropsEntriesThatMeanTheWorkingDirectory) {
  EXPECT_EQ(SplitPosixSearchPath("/opt/oracle/bin::.:bin:/usr/bin/:./x:"),
            (std::vector<std::string>{"/opt/oracle/bin", "/usr/bin/"}));
  EXPECT_TRUE(SplitPosixSearchPath("").empty());
  EXPECT_TRUE(SplitPosixSearchPath(":").empty());
}

TEST(ProgramSearch, FirstDirectoryThatHoldsTheProgramWins) {
  const std::set<std::string> files = {R"(C:\Windows\system32\sqlplus.exe)",
                                       R"(D:\oracle\bin\sqlplus.exe)", R"(D:\tools\run.cmd)"};
  auto is_file = [&](const std::string& path) { return files.count(path) > 0; };
  const std::vector<std::string> directories = {R"(C:\tavrin)", R"(C:\Windows\system32)",
                                                R"(D:\oracle\bin)", R"(D:\tools\)"};

  EXPECT_EQ(FindProgram("sqlplus", directories, is_file), R"(C:\Windows\system32\sqlplus.exe)");
  EXPECT_EQ(FindProgram("sqlplus.exe", {R"(D:\oracle\bin)"}, is_file),
            R"(D:\oracle\bin\sqlplus.exe)");
  // A name with an extension is taken as it is; a directory may end in a separator.
  EXPECT_EQ(FindProgram("run.cmd", directories, is_file), R"(D:\tools\run.cmd)");
  EXPECT_EQ(FindProgram("run", directories, is_file), std::nullopt);
}

TEST(ProgramSearch, EmptyDirectoryIsNotTheWorkingDirectory) {
  // "\sqlplus.exe" or "sqlplus.exe" would resolve against the working directory.
  std::vector<std::string> asked;
  auto is_file = [&](const std::string& path) {
    asked.push_back(path);
    return true;
  };
  EXPECT_EQ(FindProgram("sqlplus", {"", R"(C:\bin)"}, is_file), R"(C:\bin\sqlplus.exe)");
  EXPECT_EQ(asked, std::vector<std::string>{R"(C:\bin\sqlplus.exe)"});
  EXPECT_EQ(FindProgram("sqlplus", {}, is_file), std::nullopt);
}

}  // namespace
}  // namespace tavrin

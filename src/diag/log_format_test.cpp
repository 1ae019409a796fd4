#include "diag/log_format.h"

#include <gtest/gtest.h>

#include <sstream>

#include "diag/log_file.h"
#include "support/env_wrapper.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

struct Formatted {
  std::string text;
  std::string errors;
};

template <typename... Args>
Formatted Format(std::string_view format, const Args&... args) {
  const LogArg packed[] = {LogArg(args)..., LogArg(0)};
  Formatted f;
  std::ostringstream errors;
  FormatLog(format, std::span<const LogArg>(packed, sizeof...(Args)), &f.text, errors);
  f.errors = errors.str();
  return f;
}

TEST(FormatLog, PercentSignsAndCounts) {
  EXPECT_EQ(Format("100%%").text, "100%");
  EXPECT_EQ(Format("a%5%b").text, "a%b");
  EXPECT_EQ(Format("abc%nde%n").text, "abc3de6");
  EXPECT_EQ(Format("%s%n", "xy").text, "xy2");
}

TEST(FormatLog, EachSpecificationTakesItsOwnArgument) {
  EXPECT_EQ(Format("[%s] %d|%5d|%-4i|", "tag", -7, 42, 3).text, "[tag] -7|   42|3   |");
  EXPECT_EQ(Format("%u %o %x %X", 10u, 8, 255, 255).text, "10 10 ff FF");
  EXPECT_EQ(Format("%c%c", 'o', 0x16b).text, "ok");
  EXPECT_EQ(Format("%5.2f|%e|%g", 3.14159, 1.5, 0.25).text, " 3.14|1.500000e+00|0.25");
  EXPECT_EQ(Format("%-6s|%.2s", "ab", "xyz").text, "ab    |xy");
  EXPECT_EQ(Format("%s", std::string(5000, 'x')).text, std::string(5000, 'x'));
  EXPECT_EQ(Format("%d", std::int64_t{1} << 40).text, "1099511627776");
  int value = 0;
  EXPECT_FALSE(Format("%p", static_cast<const void*>(&value)).text.empty());
}

TEST(FormatLog, InvalidSpecifierIsReportedAndTheWalkGoesOn) {
  Formatted f = Format("a%ldb", 5);
  EXPECT_EQ(f.text, "adb");
  EXPECT_EQ(f.errors, "Invalid format specifier in log().\n");

  f = Format("%hs|%q", "x");
  EXPECT_EQ(f.text, "s|");
  EXPECT_EQ(f.errors, "Invalid format specifier in log().\nInvalid format specifier in log().\n");

  f = Format("end%-5");  // stops inside a specification
  EXPECT_EQ(f.text, "end");
  EXPECT_EQ(f.errors, "Invalid format specifier in log().\n");
}

// Found by fuzzing: the C library must never see such a specification.
TEST(FormatLog, OnlyFlagsWidthAndPrecisionReachTheCLibrary) {
  const std::string_view with_nul("%88\0\0 0`\0\0X|", 12);
  Formatted f = Format(with_nul, 1);
  EXPECT_EQ(f.text, "|");
  EXPECT_EQ(f.errors, "Invalid format specifier in log().\n");
  for (const char* bad : {"%2$s", "%*d", "%12345d", "%.12345f", "%5.3.2f", "%5-d"}) {
    f = Format(bad, 7);
    EXPECT_EQ(f.text, "") << bad;
    EXPECT_EQ(f.errors, "Invalid format specifier in log().\n") << bad;
  }
  EXPECT_EQ(Format("%-+ #05.2f|%9999d", 1.5, 1).text.size(), 6u + 9999u);
}

TEST(FormatLog, LongLiteralRunsAreNotCut) {
  std::string run(10000, 'r');
  EXPECT_EQ(Format(run + "%d" + run, 1).text, run + "1" + run);
}

class FixedLocalTime : public test::EnvWrapper {
 public:
  FixedLocalTime() : EnvWrapper(Env::Default()) {}
  DateTime LocalNow() override { return DateTime{2026, 3, 4, 5, 6, 7}; }
};

TEST(LogFile, NamesTheFileByLocalTimeAndNeverReplacesAFile) {
  test::TempDir dir;
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  FixedLocalTime env;
  std::ostringstream errors;
  const auto first = dir.path() / "Tavrin_2026-03-04_05-06-07.log";
  const auto second = dir.path() / "Tavrin_2026-03-04_05-06-07_2.log";
  {
    LogFile log(errors);
    ASSERT_TRUE(log.init_log("Tavrin", env));
    EXPECT_EQ(log.log("first\n"), 6);
    // On disk at once, while the file is still open: a run killed now keeps it.
    EXPECT_EQ(test::ReadFile(first), "first\n");
    // A second file of the same second takes the next free name.
    ASSERT_TRUE(log.init_log("Tavrin", env));
    EXPECT_EQ(log.log("%s %ld\n", "second"), 9);
    EXPECT_EQ(test::ReadFile(second), "second d\n");
  }
  EXPECT_EQ(test::ReadFile(first), "first\n");
  EXPECT_EQ(errors.str(), "Invalid format specifier in log().\n");

  // Not even a directory of the name is replaced or written into.
  std::filesystem::create_directory(dir.path() / "Held_2026-03-04_05-06-07.log");
  {
    LogFile log(errors);
    ASSERT_TRUE(log.init_log("Held", env));
    log.log("third\n");
  }
  EXPECT_EQ(test::ReadFile(dir.path() / "Held_2026-03-04_05-06-07_2.log"), "third\n");

  // A directory that is not there: the standard error report, with the base name.
  LogFile blocked(errors);
  errors.str("");
  EXPECT_FALSE(blocked.init_log("missing/Blocked", env));
  EXPECT_FALSE(blocked.is_open());
#ifdef _WIN32
  // The system's own wording, which differs between Windows and Wine.
  EXPECT_TRUE(errors.str().starts_with("init_log() failed to open missing/Blocked\n: "));
  EXPECT_GT(errors.str().size(), std::string("init_log() failed to open missing/Blocked\n: \n").size());
#else
  EXPECT_EQ(errors.str(),
            "init_log() failed to open missing/Blocked\n: No such file or directory\n"
            "\tLog file: missing/Blocked_2026-03-04_05-06-07.log\n");
#endif
  std::filesystem::current_path(previous);
}


// Output files whose writes the system refuses, as on a full disk.
class RefusedWrites : public FixedLocalTime {
 public:
  class Refusing : public OutputFile {
   public:
    bool Append(std::string_view) override { return false; }
    bool Close() override { return true; }
    bool Sync() override { return false; }
  };
  std::unique_ptr<OutputFile> CreateNewOutput(const std::string&, bool* exists) override {
    *exists = false;
    return std::make_unique<Refusing>();
  }
};

TEST(LogFile, AFailedWriteIsReportedOnce) {
  RefusedWrites env;
  std::ostringstream errors;
  LogFile log(errors);
  ASSERT_TRUE(log.init_log("Tavrin", env));
  EXPECT_EQ(log.log("first\n"), 0);
  EXPECT_EQ(log.log("second\n"), 0);
  EXPECT_EQ(errors.str(),
            "\n[Tavrin] Warning: Unable to write to the log file Tavrin_2026-03-04_05-06-07.log."
            " The log may be incomplete.\n");
  // A new log file is a new chance, and a new report.
  ASSERT_TRUE(log.init_log("Tavrin", env));
  log.log("third\n");
  EXPECT_EQ(errors.str().size(), 2 * std::string("\n[Tavrin] Warning: Unable to write to the log file "
                                                 "Tavrin_2026-03-04_05-06-07.log. The log may be incomplete.\n").size());
}

}  // namespace
}  // namespace tavrin

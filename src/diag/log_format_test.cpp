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

TEST(FormatLog, LongLiteralRunsAreNotCut) {
  std::string run(10000, 'r');
  EXPECT_EQ(Format(run + "%d" + run, 1).text, run + "1" + run);
}

class FixedLocalTime : public test::EnvWrapper {
 public:
  FixedLocalTime() : EnvWrapper(Env::Default()) {}
  DateTime LocalNow() override { return DateTime{2026, 3, 4, 5, 6, 7}; }
};

TEST(LogFile, NamesTheFileByLocalTimeAndCountsWhatItWrites) {
  test::TempDir dir;
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  FixedLocalTime env;
  std::ostringstream errors;
  {
    LogFile log(errors);
    ASSERT_TRUE(log.init_log("Tavrin", "wb", env));
    EXPECT_EQ(log.log("first\n"), 6);
    // A second file of the same second truncates the first.
    ASSERT_TRUE(log.init_log("Tavrin", "wb", env));
    EXPECT_EQ(log.log("%s %ld\n", "second"), 9);
  }
  EXPECT_EQ(test::ReadFile(dir.path() / "Tavrin_2026-03-04_05-06-07.log"), "second d\n");
  EXPECT_EQ(errors.str(), "Invalid format specifier in log().\n");

  // A directory in the way: the standard error report, with the base name.
  std::filesystem::create_directory(dir.path() / "Blocked_2026-03-04_05-06-07.log");
  LogFile blocked(errors);
  errors.str("");
  EXPECT_FALSE(blocked.init_log("Blocked", "wb", env));
  // The C runtime's reason: Windows' one says a directory is not accessible.
#ifdef _WIN32
  EXPECT_EQ(errors.str(), "init_log() failed to open Blocked\n: Permission denied\n");
#else
  EXPECT_EQ(errors.str(), "init_log() failed to open Blocked\n: Is a directory\n");
#endif
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace tavrin

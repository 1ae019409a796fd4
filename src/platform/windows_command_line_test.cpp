#include "platform/windows_command_line.h"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

TEST(WindowsCommandLine, QuotesOnlyWhatTheRuntimeWouldSplitOrStrip) {
  const std::pair<std::string, std::string> cases[] = {
      {"scott/tiger@orcl", "scott/tiger@orcl"},
      {R"(@C:\out\Output1.tvr)", R"(@C:\out\Output1.tvr)"},
      {R"(C:\dir\)", R"(C:\dir\)"},      // backslashes alone are literal
      {"", R"("")"},                     // an empty argument stays an argument
      {"a b", R"("a b")"},
      {"a\tb", "\"a\tb\""},
      {"a\nb", "\"a\nb\""},
      {R"(say "hi")", R"("say \"hi\"")"},
      {R"(a\"b)", R"("a\\\"b")"},          // backslash before a quote doubled, plus one
      {R"(a\\"b)", R"("a\\\\\"b")"},
      {R"(C:\dir with blank\)", R"("C:\dir with blank\\")"},  // before the closing quote
      {R"(a\b c)", R"("a\b c")"},          // inside, a backslash before another letter is kept
      {R"(@C:\out dir\Output1.tvr)", R"("@C:\out dir\Output1.tvr")"},
  };
  for (const auto& [argument, quoted] : cases)
    EXPECT_EQ(QuoteWindowsArgument(argument), quoted) << argument;
}

TEST(WindowsCommandLine, ProgramNameIsQuotedPlainly) {
  std::string line;
  ASSERT_TRUE(BuildWindowsCommandLine({"sqlplus", "u/p@h", "@C:\\out\\Output1.tvr"}, &line));
  EXPECT_EQ(line, R"(sqlplus u/p@h @C:\out\Output1.tvr)");
  ASSERT_TRUE(BuildWindowsCommandLine({R"(C:\Program Files\x\run.exe)", "a b", ""}, &line));
  EXPECT_EQ(line, R"("C:\Program Files\x\run.exe" "a b" "")");
  ASSERT_TRUE(BuildWindowsCommandLine({R"(C:\tools\)"}, &line));
  EXPECT_EQ(line, R"(C:\tools\)");

  EXPECT_FALSE(BuildWindowsCommandLine({}, &line));
  EXPECT_FALSE(BuildWindowsCommandLine({""}, &line));
  EXPECT_FALSE(BuildWindowsCommandLine({"a\"b"}, &line));
}

}  // namespace
}  // namespace tavrin

#include "driver/option_scanner.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavrin {
namespace {

// Scans `args` (program name first) and renders each result: a letter with
// its argument as "i=dir", '?' as "?", and the end as "$@<index>".
std::vector<std::string> Scan(std::vector<const char*> args) {
  OptionScanner scanner(static_cast<int>(args.size()), args.data(), "hpIlmD:U:P:S:i:o:");
  std::vector<std::string> seen;
  for (;;) {
    int option = scanner.Next();
    if (option == OptionScanner::kEnd) {
      seen.push_back("$@" + std::to_string(scanner.index()));
      return seen;
    }
    std::string item(1, static_cast<char>(option));
    if (!scanner.argument().empty()) item += "=" + scanner.argument();
    seen.push_back(item);
  }
}

using V = std::vector<std::string>;

TEST(OptionScanner, BundlesAndSlashes) {
  EXPECT_EQ(Scan({"t", "-pIl"}), (V{"p", "I", "l", "$@2"}));
  EXPECT_EQ(Scan({"t", "/p", "/I"}), (V{"p", "I", "$@3"}));
  EXPECT_EQ(Scan({"t", "-pi", "dir", "-m"}), (V{"p", "i=dir", "m", "$@4"}));
  EXPECT_EQ(Scan({"t", "-piC:\\data", "-m"}), (V{"p", "i=C:\\data", "m", "$@3"}));
}

TEST(OptionScanner, ArgumentsAreTakenWhateverTheyBeginWith) {
  EXPECT_EQ(Scan({"t", "-D", "-p"}), (V{"D=-p", "$@3"}));
  EXPECT_EQ(Scan({"t", "-i", "-p", "-I"}), (V{"i=-p", "I", "$@4"}));
  EXPECT_EQ(Scan({"t", "-p", "-i"}), (V{"p", "?", "$@3"}));
}

TEST(OptionScanner, EndOfOptions) {
  EXPECT_EQ(Scan({"t"}), (V{"$@1"}));
  EXPECT_EQ(Scan({"t", "-p", "file", "-I"}), (V{"p", "$@2"}));  // not consumed
  EXPECT_EQ(Scan({"t", "-p", "--", "-I"}), (V{"p", "$@3"}));    // consumed
  EXPECT_EQ(Scan({"t", "-", "-I"}), (V{"$@2"}));
}

TEST(OptionScanner, UnknownLettersDropTheRestOfTheirArgument) {
  EXPECT_EQ(Scan({"t", "-xp", "-I"}), (V{"?", "I", "$@3"}));
  EXPECT_EQ(Scan({"t", "-p:", "-I"}), (V{"p", "?", "I", "$@3"}));
  EXPECT_EQ(Scan({"t", "/"}), (V{"?", "$@2"}));
}

}  // namespace
}  // namespace tavrin

#include "import/script_ending.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace tavrin {
namespace {

TEST(ScriptEnding, OnlyALastLineThatIsExactlyExitCounts) {
  for (const char* text : {"EXIT", "EXIT\n", "EXIT\r\n", "\nEXIT", "BEGIN\r\nEND;\r\n/\r\nEXIT"})
    EXPECT_TRUE(EndsWithExitLine(text, true)) << text;
  for (const char* text : {"", "\n", "exit", "EXIT;", " EXIT", "NOEXIT", "EXIT\n\n", "EXIT \n",
                           "EXIT\r\r\n", "EXIT\nSELECT 1 FROM dual;"})
    EXPECT_FALSE(EndsWithExitLine(text, true)) << text;
  // "EXIT" as the last bytes of a longer script, with the line start unseen.
  EXPECT_FALSE(EndsWithExitLine("EXIT", false));
  EXPECT_TRUE(EndsWithExitLine("\nEXIT\r\n", false));
}

TEST(ScriptEnding, ReadsOnlyWhatDecidesWhateverTheSize) {
  test::TempDir dir;
  Env& env = *Env::Default();
  const std::string path = (dir.path() / "Output1.tvr").string();
  bool ends = false;

  test::WriteFile(path, std::string(200000, 'x') + "\nEXIT");
  ASSERT_TRUE(ScriptEndsWithExit(env, path, &ends));
  EXPECT_TRUE(ends);
  // The bytes before "EXIT" were read in an earlier piece.
  test::WriteFile(path, std::string(65536 - 4, 'x') + "EXIT");
  ASSERT_TRUE(ScriptEndsWithExit(env, path, &ends));
  EXPECT_FALSE(ends);
  test::WriteFile(path, "");
  ASSERT_TRUE(ScriptEndsWithExit(env, path, &ends));
  EXPECT_FALSE(ends);
  EXPECT_FALSE(ScriptEndsWithExit(env, (dir.path() / "gone.tvr").string(), &ends));
}

}  // namespace
}  // namespace tavrin

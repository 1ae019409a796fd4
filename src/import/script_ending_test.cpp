#include "import/script_ending.h"

#include <gtest/gtest.h>

#include "import/sha256.h"
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

TEST(ScriptEnding, OneReadGivesTheEndingAndTheHashOfAReadEach) {
  test::TempDir dir;
  Env& env = *Env::Default();
  const std::string path = (dir.path() / "Output1.tvr").string();
  // Around the read size and the hash's 64-byte blocks, "EXIT" whole or
  // split between two pieces.
  for (const std::string& text :
       {std::string(), std::string("EXIT"), std::string("x\r\nEXIT\r\n"), std::string(55, 'x'),
        std::string(65536 - 3, 'x') + "\nEXIT", std::string(65536 - 1, 'x') + "\nEXIT\n",
        std::string(65536 - 7, 'x') + "\nEXIT\r\n", std::string(65536 - 4, 'x') + "EXIT",
        std::string(200000, 'y') + "\nEXIT"}) {
    test::WriteFile(path, text);
    bool expected_ends = false;
    std::string expected_hash;
    ASSERT_TRUE(ScriptEndsWithExit(env, path, &expected_ends));
    ASSERT_TRUE(HashFile(env, path, &expected_hash));
    bool ends = !expected_ends;
    std::string hash;
    ASSERT_TRUE(ReadScriptEnding(env, path, &ends, &hash));
    EXPECT_EQ(ends, expected_ends) << text.size();
    EXPECT_EQ(ends, EndsWithExitLine(text, true)) << text.size();
    EXPECT_EQ(hash, expected_hash) << text.size();
  }
  bool ends = false;
  std::string hash = "unchanged";
  EXPECT_FALSE(ReadScriptEnding(env, (dir.path() / "gone.tvr").string(), &ends, &hash));
  EXPECT_EQ(hash, "unchanged");
}

}  // namespace
}  // namespace tavrin

// The UTF-8/UTF-16 conversions at the Windows edge, and the Win32 Env over
// names outside the ANSI code page and paths past the old length limit.

#include "platform/wide_text_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/env.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

// Cyrillic, Japanese, and an emoji: a surrogate pair in UTF-16.
const std::string kCyrillic = "\xd0\x96\xd1\x83\xd1\x80\xd0\xbd\xd0\xb0\xd0\xbb";  // Журнал
const std::string kJapanese = "\xe6\x97\xa5\xe8\xaa\x8c";                          // 日誌
const std::string kEmoji = "\xf0\x9f\x93\x81";                                       // U+1F4C1

TEST(WideText, RoundTripsEveryPlaneAndTheEmptyString) {
  struct Case {
    std::string utf8;
    std::wstring utf16;
  };
  const Case cases[] = {
      {"", L""},
      {"plain.sql", L"plain.sql"},
      {"Donn\xc3\xa9" "es \xc3\xa9", L"Donn\u00e9es \u00e9"},
      {kCyrillic, L"\u0416\u0443\u0440\u043d\u0430\u043b"},
      {kJapanese, L"\u65e5\u8a8c"},
      {kEmoji + "x", std::wstring{wchar_t(0xD83D), wchar_t(0xDCC1), L'x'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    std::wstring wide = L"junk";
    ASSERT_TRUE(Utf8ToWide(c.utf8, &wide));
    EXPECT_EQ(wide, c.utf16);
    EXPECT_EQ(WideToUtf8(wide), c.utf8);
  }
}

TEST(WideText, InvalidUtf8IsAClearErrorNeverACrash) {
  const std::string cases[] = {
      "\x80",                 // a continuation byte alone
      "caf\xe9",              // a legacy code page's byte
      "\xc0\xaf",             // an overlong form
      "\xed\xa0\x80",         // a surrogate, encoded
      "\xf4\x90\x80\x80",     // past U+10FFFF
      "ab\xe6\x97",           // cut off inside a sequence
      std::string("a\0\xff", 3),
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    std::wstring wide = L"junk";
    ::SetLastError(0);
    EXPECT_FALSE(Utf8ToWide(text, &wide));
    EXPECT_TRUE(wide.empty());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    // A path call fails with the same reason.
    EXPECT_FALSE(WidePath(text, &wide));
  }
  // An unpaired surrogate becomes U+FFFD.
  EXPECT_EQ(WideToUtf8(std::wstring{L'a', wchar_t(0xD83D), L'b'}), "a\xef\xbf\xbd" "b");
  // A NUL inside is kept.
  std::wstring wide;
  ASSERT_TRUE(Utf8ToWide(std::string("a\0b", 3), &wide));
  EXPECT_EQ(wide, std::wstring(L"a\0b", 3));
}

TEST(WideText, LongPathsGetThePrefixShortOnesStayAsTyped) {
  std::wstring wide;
  ASSERT_TRUE(WidePath("out\\Output1.tvr", &wide));
  EXPECT_EQ(wide, L"out\\Output1.tvr");
  ASSERT_TRUE(WidePath("C:\\" + std::string(200, 'a'), &wide));
  EXPECT_EQ(wide, L"C:\\" + std::wstring(200, L'a'));

  const std::string deep = "C:\\" + std::string(150, 'a') + "/" + std::string(150, 'b');
  ASSERT_TRUE(WidePath(deep, &wide));
  EXPECT_EQ(wide, L"\\\\?\\C:\\" + std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b'));
  // The full form counts: 248 characters is long, 247 is not.
  ASSERT_TRUE(WidePath("C:\\" + std::string(245, 'c'), &wide));
  EXPECT_TRUE(wide.starts_with(L"\\\\?\\C:\\"));
  ASSERT_TRUE(WidePath("C:\\" + std::string(244, 'c'), &wide));
  EXPECT_FALSE(wide.starts_with(L"\\\\?\\"));

  ASSERT_TRUE(WidePath("\\\\server\\share\\" + std::string(300, 'd'), &wide));
  EXPECT_EQ(wide, L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'd'));
  // Already in that form: as it is.
  const std::string prefixed = "\\\\?\\C:\\" + std::string(300, 'e');
  ASSERT_TRUE(WidePath(prefixed, &wide));
  EXPECT_EQ(WideToUtf8(wide), prefixed);
}

TEST(WideText, AnsiFormOnlyWhenTheCodePageHoldsTheText) {
  std::string ansi;
  EXPECT_TRUE(WideToAnsi(L"out\\Output1.tvr", &ansi));
  EXPECT_EQ(ansi, "out\\Output1.tvr");
  // No code page holds both Cyrillic and Japanese, nor an emoji.
  EXPECT_FALSE(WideToAnsi(L"\u0416\u65e5", &ansi));
  EXPECT_FALSE(WideToAnsi(std::wstring{wchar_t(0xD83D), wchar_t(0xDCC1)}, &ansi));
  if (::GetACP() == 1252) {
    EXPECT_TRUE(WideToAnsi(L"Donn\u00e9es", &ansi));
    EXPECT_EQ(ansi, "Donn\xe9" "es");
    // A best-fit substitute ("a" for U+0101) is no exact form.
    EXPECT_FALSE(WideToAnsi(L"\u0101", &ansi));
    // The password text: UTF-8 goes out in the code page; other bytes as they are.
    EXPECT_EQ(Utf8ToAnsiText("tigr\xc3\xa9\r\n"), "tigr\xe9\r\n");
    EXPECT_EQ(Utf8ToAnsiText("tigr\xe9\r\n"), "tigr\xe9\r\n");
  }
  EXPECT_EQ(Utf8ToAnsiText("tiger\r\n"), "tiger\r\n");
  EXPECT_EQ(Utf8ToAnsiText(""), "");
}

// Paths the way Tavrin builds them: a directory as given, a separator, a name.
std::string Under(const std::string& directory, const std::string& name) {
  return directory + "\\" + name;
}

TEST(WideText, EnvHandlesNamesOutsideTheCodePageAndPathsPastTheOldLimit) {
  test::TempDir dir;
  Env& env = *Env::Default();
  // Over 300 characters, each component named in another script.
  std::string deep = dir.path().string();
  for (const std::string& part : {kCyrillic, kJapanese, kEmoji})
    deep = Under(deep, part + std::string(40, '_') + part);
  while (deep.size() < 320) deep = Under(deep, std::string(60, 'd'));
  {
    std::string path = dir.path().string();
    for (std::size_t at = path.size() + 1; at <= deep.size(); at = deep.find('\\', at) + 1) {
      const std::size_t end = deep.find('\\', at);
      path = deep.substr(0, end);
      bool exists = false;
      ASSERT_TRUE(env.MakeDirectory(path, &exists)) << path << ": " << env.ErrorText(env.LastError());
      if (end == std::string::npos) break;
    }
  }
  const std::string name = kJapanese + kEmoji + ".sql";
  auto file = env.CreateOutput(Under(deep, name));
  ASSERT_NE(file, nullptr) << env.ErrorText(env.LastError());
  ASSERT_TRUE(file->Append("select 1 from dual;\n"));
  ASSERT_TRUE(file->Close());

  std::vector<std::string> names;
  ASSERT_TRUE(env.ListMatches(Under(deep, "*.sql"), &names));
  EXPECT_EQ(names, std::vector<std::string>{name});
  auto read = env.OpenForReading(Under(deep, name));
  ASSERT_NE(read, nullptr);
  char buffer[64];
  EXPECT_EQ(read->Read(buffer, sizeof buffer), 20);
  read.reset();

  const std::string moved = Under(dir.path().string(), kCyrillic + ".sql");
  ASSERT_TRUE(env.MoveNoReplace(Under(deep, name), moved)) << env.ErrorText(env.LastError());
  EXPECT_FALSE(env.ListMatches(Under(deep, "*.sql"), &names));
  EXPECT_TRUE(env.RemoveFile(moved));

  // A name that is not UTF-8 is refused, never guessed at.
  EXPECT_EQ(env.CreateOutput(Under(dir.path().string(), "caf\xe9.sql")), nullptr);
  EXPECT_EQ(env.LastError(), ERROR_NO_UNICODE_TRANSLATION);
  // Removed here: the test directory's own clean-up knows no long paths.
  for (std::string path = deep; path.size() > dir.path().string().size();
       path = path.substr(0, path.rfind('\\')))
    ASSERT_TRUE(::RemoveDirectoryW((L"\\\\?\\" + [&] {
                                     std::wstring w;
                                     Utf8ToWide(path, &w);
                                     return w;
                                   }()).c_str()))
        << path;
}

TEST(WideText, EnvReadsTheEnvironmentInUtf8) {
  Env& env = *Env::Default();
  ::SetEnvironmentVariableW(L"TAVRIN_TEST_VALUE", L"\u0416 \u65e5");
  EXPECT_EQ(env.Variable("TAVRIN_TEST_VALUE"), "\xd0\x96 \xe6\x97\xa5");
  ::SetEnvironmentVariableW(L"TAVRIN_TEST_VALUE", L"");
  EXPECT_EQ(env.Variable("TAVRIN_TEST_VALUE"), "");
  ::SetEnvironmentVariableW(L"TAVRIN_TEST_VALUE", nullptr);
  EXPECT_EQ(env.Variable("TAVRIN_TEST_VALUE"), std::nullopt);
}

TEST(WideText, ClientGetsThePathAsItIsOrItsShortForm) {
  test::TempDir dir;
  Env& env = *Env::Default();
  const std::string plain = Under(dir.path().string(), "Output1.tvr");
  test::WriteFile(dir.path() / "Output1.tvr", "EXIT");
  std::string passable;
  ASSERT_TRUE(env.ClientPath(plain, &passable));
  EXPECT_EQ(passable, plain);

  bool exists = false;
  const std::string folder = Under(dir.path().string(), kCyrillic + kEmoji);
  ASSERT_TRUE(env.MakeDirectory(folder, &exists));
  auto file = env.CreateOutput(Under(folder, "Output1.tvr"));
  ASSERT_NE(file, nullptr);
  file->Close();
  // A narrow program can take the short form, when the system has one.
  if (env.ClientPath(Under(folder, "Output1.tvr"), &passable)) {
    std::string ansi;
    std::wstring wide;
    ASSERT_TRUE(Utf8ToWide(passable, &wide));
    EXPECT_TRUE(WideToAnsi(wide, &ansi)) << passable;
    EXPECT_LT(wide.size(), 260u);
    EXPECT_NE(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES) << passable;
  }
}

}  // namespace
}  // namespace tavrin

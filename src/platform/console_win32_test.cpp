// The console writer: what a console shows for the bytes Tavrin prints.
// The Wine leg sees only redirected output, so the writer is tested here
// through its sink, with Western European as the legacy code page.

#include "platform/console_win32.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavrin {
namespace {

constexpr unsigned kWestern = 1252;

struct Shown {
  std::wstring text;
  int pieces = 0;
};

ConsoleWriter WriterInto(Shown* shown) {
  return ConsoleWriter(
      [shown](std::wstring_view text) {
        shown->text.append(text);
        ++shown->pieces;
        return true;
      },
      kWestern);
}

TEST(ConsoleWriter, ShowsUtf8LegacyBytesAndMixesOfBoth) {
  struct Case {
    const char* name;
    std::string bytes;
    std::wstring shown;
  };
  const Case cases[] = {
      {"ascii", "Grouping file:a.sql\tGroup :1\n", L"Grouping file:a.sql\tGroup :1\n"},
      {"utf-8", "Z:\\tmp\\\xd0\x96\xd1\x83\\\xe6\x97\xa5\\\xf0\x9f\x93\x81\n",
       std::wstring(L"Z:\\tmp\\\u0416\u0443\\\u65e5\\") + wchar_t(0xD83D) + wchar_t(0xDCC1) + L"\n"},
      {"legacy", "'caf\xe9', '\x80 5'", L"'caf\u00e9', '\u20ac 5'"},
      {"mixed", "Moved File :Donn\xc3\xa9" "es.sql ('caf\xe9')",
       L"Moved File :Donn\u00e9es.sql ('caf\u00e9')"},
      // Not UTF-8: an overlong form, an encoded surrogate, a lead byte
      // followed by ASCII. Each byte alone, from the code page.
      {"invalid", "\xc0\xaf|\xed\xa0\x80|\xc3z", L"\u00c0\u00af|\u00ed\u00a0\u20ac|\u00c3z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Shown shown;
    ConsoleWriter writer = WriterInto(&shown);
    ASSERT_TRUE(writer.Write(c.bytes));
    ASSERT_TRUE(writer.Flush());
    EXPECT_EQ(shown.text, c.shown);
  }
}

TEST(ConsoleWriter, SequenceSplitAcrossWritesIsShownWhole) {
  const std::string bytes = "\xd0\x96-\xe6\x97\xa5-\xf0\x9f\x93\x81-\xe9";
  const std::wstring whole =
      std::wstring(L"\u0416-\u65e5-") + wchar_t(0xD83D) + wchar_t(0xDCC1) + L"-\u00e9";
  // Every split point, and byte by byte.
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    Shown shown;
    ConsoleWriter writer = WriterInto(&shown);
    ASSERT_TRUE(writer.Write(std::string_view(bytes).substr(0, cut)));
    ASSERT_TRUE(writer.Write(std::string_view(bytes).substr(cut)));
    ASSERT_TRUE(writer.Flush());
    EXPECT_EQ(shown.text, whole);
  }
  Shown shown;
  ConsoleWriter writer = WriterInto(&shown);
  for (char byte : bytes) ASSERT_TRUE(writer.Write(std::string_view(&byte, 1)));
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(shown.text, whole);
}

TEST(ConsoleWriter, CutOffSequenceAtTheEndIsShownAsLegacyBytes) {
  Shown shown;
  ConsoleWriter writer = WriterInto(&shown);
  ASSERT_TRUE(writer.Write("end \xe6\x97"));
  EXPECT_EQ(shown.text, L"end ");
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(shown.text, L"end \u00e6\u2014");
  // Nothing left to show: the sink is not called for nothing.
  const int pieces = shown.pieces;
  ASSERT_TRUE(writer.Flush());
  ASSERT_TRUE(writer.Write(""));
  EXPECT_EQ(shown.pieces, pieces);
}

TEST(ConsoleWriter, SinkThatFailsIsReported) {
  ConsoleWriter writer([](std::wstring_view) { return false; }, kWestern);
  EXPECT_FALSE(writer.Write("text"));
}

}  // namespace
}  // namespace tavrin

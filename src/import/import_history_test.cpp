// The history header of scripts, the probe's text and answer, and the
// client arguments of a history script.

#include "import/import_history.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/env_wrapper.h"

namespace tavrin {
namespace {

const std::string kLines =
    "SET AUTOCOMMIT OFF\r\nSET DEFINE ON\r\nWHENEVER SQLERROR EXIT FAILURE ROLLBACK\r\n"
    "INSERT INTO TAVRIN_IMPORTS(IMPORT_ID, SCRIPT_NAME) VALUES ('&1', '&2');\r\n"
    "WHENEVER SQLERROR CONTINUE NONE\r\n";

// The -A lines, and those of -A -H.
const std::string kAtomic =
    "SET AUTOCOMMIT OFF\r\nSET EXITCOMMIT ON\r\nWHENEVER OSERROR EXIT FAILURE ROLLBACK\r\n"
    "WHENEVER SQLERROR EXIT FAILURE ROLLBACK\r\n";
const std::string kAtomicHistory =
    "SET AUTOCOMMIT OFF\r\nSET EXITCOMMIT ON\r\nSET DEFINE ON\r\n"
    "WHENEVER OSERROR EXIT FAILURE ROLLBACK\r\nWHENEVER SQLERROR EXIT FAILURE ROLLBACK\r\n"
    "INSERT INTO TAVRIN_IMPORTS(IMPORT_ID, SCRIPT_NAME) VALUES ('&1', '&2');\r\n";

TEST(ImportHistory, HistoryScriptsAreKnownByTheLinesAfterTheirFirst) {
  struct Case {
    std::string head;
    bool history, not_atomic, atomic_header = false;
  } cases[] = {
      {"SET VERIFY OFF\r\n" + kLines + "BEGIN\r\n", true, false},
      {"SET VERIFY OFF\r\n-- not atomic\r\n" + kLines + "BEGIN\r\n", true, true},
      {"SET VERIFY OFF\r\n" + kLines, true, false},
      {"SET VERIFY OFF\r\nBEGIN\r\n", false, false},
      {"SET VERIFY OFF\n" + kLines, false, false},            // LF only: not Tavrin's lines
      {"-- not atomic\r\nSET VERIFY OFF\r\n" + kLines, false, false},
      {"SET VERIFY OFF\r\n" + kLines.substr(0, kLines.size() - 2), false, false},  // cut short
      {"", false, false},
      {"SET VERIFY OFF\r\n" + kAtomic + "BEGIN\r\n", false, false, true},
      {"SET VERIFY OFF\r\n-- not atomic\r\n" + kAtomic, false, true, true},
      {"SET VERIFY OFF\r\n" + kAtomicHistory + "BEGIN\r\n", true, false, true},
      {"SET VERIFY OFF\r\n-- not atomic\r\n" + kAtomicHistory, true, true, true},
      {"SET VERIFY OFF\r\n" + kAtomicHistory.substr(0, kAtomicHistory.size() - 3), false, false},
      {"SET VERIFY OFF\r\n" + kAtomic.substr(0, kAtomic.size() - 2), false, false},
  };
  for (const Case& c : cases) {
    const HistoryHeader header = ReadHistoryHeader(c.head);
    EXPECT_EQ(header.history, c.history) << c.head;
    EXPECT_EQ(header.not_atomic, c.not_atomic) << c.head;
    EXPECT_EQ(header.atomic_header, c.atomic_header) << c.head;
  }
}

TEST(ImportHistory, TheProbeAnswersWithItsOwnLineOnly) {
  struct Case {
    std::string output;
    std::optional<int> answer;
  } cases[] = {
      {"\nTAVRIN-HISTORY 0\n", 0},
      {"Connected.\r\nTAVRIN-HISTORY 1 \t\r\n\r\nDisconnected\r\n", 1},
      {"TAVRIN-HISTORY 1", 1},
      {"", std::nullopt},
      {"ORA-00942: table or view does not exist\n", std::nullopt},
      {"TAVRIN-HISTORY 2\n", std::nullopt},
      {" TAVRIN-HISTORY 1\n", std::nullopt},
      {"TAVRIN-HISTORY 10\n", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ProbeAnswer(c.output), c.answer) << c.output;
}

TEST(ImportHistory, TheProbeIsOneBlockThatEndsTheClient) {
  const std::string text = ProbeScriptText();
  EXPECT_TRUE(text.starts_with("SET AUTOCOMMIT OFF\r\nSET DEFINE ON\r\n"));
  EXPECT_NE(text.find("EXCEPTION WHEN DUP_VAL_ON_INDEX THEN\r\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with("  END IF;\r\nEND;\r\n/\r\nEXIT"));
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    EXPECT_EQ(text[at - 1], '\r') << at;  // every line ends in CR LF
}

TEST(ImportHistory, NamesAreQuotedAndCutWithoutSplittingAQuote) {
  EXPECT_EQ(ScriptNameArgument("Output1.tvr"), "Output1.tvr");
  EXPECT_EQ(ScriptNameArgument("it's.tvr"), "it''s.tvr");
  EXPECT_EQ(ScriptNameArgument(std::string(250, 'x')), std::string(200, 'x'));
  // 199 bytes and a quote: the doubled quote does not fit, and goes whole.
  EXPECT_EQ(ScriptNameArgument(std::string(199, 'x') + "'y"), std::string(199, 'x'));
  EXPECT_EQ(ScriptNameArgument(std::string(198, 'x') + "'y"), std::string(198, 'x') + "''");
}

class CountingRandom : public test::EnvWrapper {
 public:
  CountingRandom() : EnvWrapper(Env::Default()) {}
  bool RandomBytes(unsigned char* buffer, std::size_t size) override {
    if (fail) return false;
    return EnvWrapper::RandomBytes(buffer, size);
  }
  bool fail = false;
};

TEST(ImportHistory, IdsAre32LowercaseHexDigitsAndDiffer) {
  CountingRandom env;
  std::set<std::string> ids;
  for (int i = 0; i < 8; ++i) {
    std::string id;
    ASSERT_TRUE(NewImportId(env, &id));
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 8u);
  env.fail = true;
  std::string id;
  EXPECT_FALSE(NewImportId(env, &id));
}

}  // namespace
}  // namespace tavrin

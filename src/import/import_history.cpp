#include "import/import_history.h"

#include <array>

#include "script/script_writer.h"

namespace tavrin {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kNameArgumentBytes = 200;

// Takes `line` and its CR LF off the front of `text`.
bool TakeLine(std::string_view* text, std::string_view line) {
  if (!text->starts_with(line) || !text->substr(line.size()).starts_with(kLineEnd)) return false;
  text->remove_prefix(line.size() + kLineEnd.size());
  return true;
}

constexpr std::array<std::string_view, 15> kProbeLines = {
    "SET AUTOCOMMIT OFF",
    "SET DEFINE ON",
    "SET SERVEROUTPUT ON",
    "SET FEEDBACK OFF",
    "DECLARE",
    "  owner VARCHAR2(260);",
    "BEGIN",
    "  INSERT INTO TAVRIN_IMPORTS(IMPORT_ID, SCRIPT_NAME) VALUES ('&1', 'probe');",
    "  COMMIT;",
    "  DBMS_OUTPUT.PUT_LINE('TAVRIN-HISTORY 0');",
    "EXCEPTION WHEN DUP_VAL_ON_INDEX THEN",
    "  SELECT SCRIPT_NAME INTO owner FROM TAVRIN_IMPORTS WHERE IMPORT_ID = '&1';",
    "  IF owner = 'probe' THEN DBMS_OUTPUT.PUT_LINE('TAVRIN-HISTORY 0');",
    "  ELSE DBMS_OUTPUT.PUT_LINE('TAVRIN-HISTORY 1');",
    "  END IF;",
};

}  // namespace

HistoryHeader ReadHistoryHeader(std::string_view head) {
  HistoryHeader header;
  if (!TakeLine(&head, "SET VERIFY OFF")) return header;
  const bool not_atomic = TakeLine(&head, kNotAtomicLine);
  const auto takes = [head](const auto& lines) {
    std::string_view rest = head;
    for (std::string_view line : lines)
      if (!TakeLine(&rest, line)) return false;
    return true;
  };
  if (takes(kHistoryLines)) {
    header.history = true;
  } else if (takes(kAtomicHistoryLines)) {
    header.history = header.atomic_header = true;
  } else if (takes(kAtomicLines)) {
    header.atomic_header = true;
  } else {
    return header;
  }
  header.not_atomic = not_atomic;
  return header;
}

std::string ProbeScriptText() {
  std::string text;
  for (std::string_view line : kProbeLines) text.append(line).append(kLineEnd);
  text.append("END;").append(kLineEnd).append("/").append(kLineEnd).append("EXIT");
  return text;
}

std::optional<int> ProbeAnswer(std::string_view output) {
  while (!output.empty()) {
    const std::size_t end = output.find('\n');
    std::string_view line = output.substr(0, end);
    output.remove_prefix(end == std::string_view::npos ? output.size() : end + 1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
      line.remove_suffix(1);
    if (line == "TAVRIN-HISTORY 0") return 0;
    if (line == "TAVRIN-HISTORY 1") return 1;
  }
  return std::nullopt;
}

bool NewImportId(Env& env, std::string* id) {
  unsigned char bytes[16];
  if (!env.RandomBytes(bytes, sizeof bytes)) return false;
  static constexpr char kDigits[] = "0123456789abcdef";
  id->clear();
  for (unsigned char byte : bytes) {
    id->push_back(kDigits[byte >> 4]);
    id->push_back(kDigits[byte & 0xF]);
  }
  return true;
}

std::string ScriptNameArgument(std::string_view bare_name) {
  std::string argument;
  for (char c : bare_name) {
    const std::size_t room = c == '\'' ? 2 : 1;
    if (argument.size() + room > kNameArgumentBytes) break;
    argument.push_back(c);
    if (c == '\'') argument.push_back('\'');
  }
  return argument;
}

}  // namespace tavrin

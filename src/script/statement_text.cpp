#include "script/statement_text.h"

#include "text/digits.h"

namespace tavrin {
namespace {

// The last value of the statement's last parenthesised list must be a value.
bool HasValidLastValue(std::string_view statement) {
  std::size_t close = statement.rfind(')');
  if (close == std::string_view::npos) return true;
  std::size_t comma = statement.rfind(',', close);
  if (comma == std::string_view::npos) return true;
  std::string_view value = statement.substr(comma + 1, close - comma - 1);
  std::size_t first = value.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  value = value.substr(first, value.find_last_not_of(' ') - first + 1);
  return value != "NULL";
}

// Whether the statement already ends in ";", blanks, tabs and CRs after it
// aside: a second ";" would be an empty statement.
bool EndsWithSemicolon(std::string_view statement) {
  std::size_t last = statement.find_last_not_of(" \t\r");
  return last != std::string_view::npos && statement[last] == ';';
}

bool IsWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether the statement's first word, in any case, is SELECT.
bool IsSelect(std::string_view statement) {
  std::size_t start = statement.find_first_not_of(" \t");
  if (start == std::string_view::npos) return false;
  constexpr std::string_view kSelect = "SELECT";
  if (statement.size() - start < kSelect.size()) return false;
  for (std::size_t i = 0; i < kSelect.size(); ++i) {
    char c = statement[start + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kSelect[i]) return false;
  }
  std::size_t after = start + kSelect.size();
  return after == statement.size() || !IsWordCharacter(statement[after]);
}

// Where the first ".CURRVAL" or ".NEXTVAL" ends, or npos.
std::size_t FirstSequenceValue(std::string_view statement) {
  std::size_t currval = marker::kCurrval.FindIn(statement);
  std::size_t nextval = marker::kNextval.FindIn(statement);
  if (currval < nextval) return currval + marker::kCurrval.size();
  if (nextval != std::string_view::npos) return nextval + marker::kNextval.size();
  return std::string_view::npos;
}

}  // namespace

std::string_view IdentityNameAt(std::string_view statement, std::size_t at) {
  std::size_t end = SkipDigits(statement, at + marker::kIdentity.size());
  return statement.substr(at, end - at);
}

std::string_view FirstIdentityName(std::string_view statement) {
  std::size_t at = marker::kIdentity.FindIn(statement);
  if (at == std::string_view::npos) return {};
  return IdentityNameAt(statement, at);
}

bool RewriteStatement(std::string& statement) {
  if (!HasValidLastValue(statement)) return false;

  // Substitution references become PL/SQL variables. A quoted one loses its
  // opening quote with the "&" and its closing quote, the first one after it,
  // to a blank. Every quoted reference holds "&identity" too, so one search
  // tells whether there is anything to do.
  bool references = marker::kReference.IsIn(statement);
  while (references) {
    std::size_t quoted = marker::kQuotedReference.FindIn(statement);
    if (quoted != std::string::npos) {
      statement.erase(quoted, 2);  // "'&identity" -> "identity"
      std::size_t closing = statement.find('\'', quoted);
      if (closing != std::string::npos) statement[closing] = ' ';
    } else {
      statement.erase(marker::kReference.FindIn(statement), 1);
    }
    if (!EndsWithSemicolon(statement)) statement.push_back(';');
    references = marker::kReference.IsIn(statement);
  }

  // A sequence value read inside a block must land in a variable.
  if (IsSelect(statement)) {
    std::size_t value = FirstSequenceValue(statement);
    if (value != std::string::npos) statement.insert(value, " into");
  }
  return true;
}

}  // namespace tavrin

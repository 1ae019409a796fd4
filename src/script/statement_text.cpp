#include "script/statement_text.h"

#include <algorithm>
#include <cstring>

#include "script/client_substitution.h"
#include "text/digits.h"

namespace tavrin {
namespace {

// Where the first ".CURRVAL" or ".NEXTVAL" ends, or npos.
std::size_t FirstSequenceValue(std::string_view statement) {
  std::size_t currval = marker::kCurrval.FindIn(statement);
  std::size_t nextval = marker::kNextval.FindIn(statement);
  if (currval < nextval) return currval + marker::kCurrval.size();
  if (nextval != std::string_view::npos) return nextval + marker::kNextval.size();
  return std::string_view::npos;
}

bool HasAt(std::string_view text, std::size_t at, std::string_view word) {
  return at <= text.size() && text.size() - at >= word.size() &&
         std::memcmp(text.data() + at, word.data(), word.size()) == 0;
}

// Where the first "&identity" at or after `from` starts, or npos. '&' is rare
// in a statement, so the search runs from one to the next.
std::size_t FindReference(std::string_view text, std::size_t from) {
  while (from < text.size()) {
    const void* hit = std::memchr(text.data() + from, '&', text.size() - from);
    if (!hit) break;
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    if (HasAt(text, at + 1, "identity")) return at;
    from = at + 1;
  }
  return std::string_view::npos;
}

// Where the first "'&identity" at or after `from` starts, or npos.
std::size_t FindQuotedReference(std::string_view text, std::size_t from) {
  for (std::size_t at = FindReference(text, from + 1); at != std::string_view::npos;
       at = FindReference(text, at + 1)) {
    if (text[at - 1] == '\'') return at - 1;
  }
  return std::string_view::npos;
}

// Every quoted reference first, each time the first one left: it loses the
// quote and '&' before it, and the first quote from there on becomes a blank;
// then every other reference, first one first, loses its '&'. A change can
// make a new reference only where it starts at most two bytes before it, so
// each search starts there instead of at the front.
void RewriteReferences(std::string& statement) {
  std::size_t quoted_from = 0;
  std::size_t plain_from = 0;
  bool first = true;
  for (;;) {
    std::size_t at = FindQuotedReference(statement, quoted_from);
    std::size_t from;
    if (at != std::string::npos) {
      statement.erase(at, 2);  // "'&identity" -> "identity"
      std::size_t closing = statement.find('\'', at);
      if (closing != std::string::npos) statement[closing] = ' ';
      from = at >= 2 ? at - 2 : 0;
      quoted_from = from;
      plain_from = std::min(plain_from, from);
    } else {
      at = FindReference(statement, plain_from);
      if (at == std::string::npos) return;
      statement.erase(at, 1);
      from = at >= 2 ? at - 2 : 0;
      quoted_from = plain_from = from;
    }
    // Once the statement ends in ';', no later change can take that away.
    if (first && !EndsWithSemicolon(statement)) statement.push_back(';');
    first = false;
  }
}

}  // namespace

bool EndsWithSemicolon(std::string_view statement) {
  std::size_t last = statement.find_last_not_of(" \t\r");
  return last != std::string_view::npos && statement[last] == ';';
}

bool IsWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsSelect(std::string_view statement) {
  std::size_t start = 0;
  while (start < statement.size() && (statement[start] == ' ' || statement[start] == '\t')) ++start;
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

bool HasValidLastValue(std::string_view statement) {
  // The last ')' by memchr from one to the next: most statements hold few,
  // and many none at all.
  std::size_t close = std::string_view::npos;
  for (std::size_t from = 0; from < statement.size();) {
    const void* hit = std::memchr(statement.data() + from, ')', statement.size() - from);
    if (!hit) break;
    close = static_cast<std::size_t>(static_cast<const char*>(hit) - statement.data());
    from = close + 1;
  }
  if (close == std::string_view::npos) return true;
  std::size_t comma = statement.rfind(',', close);
  if (comma == std::string_view::npos) return true;
  std::string_view value = statement.substr(comma + 1, close - comma - 1);
  std::size_t first = value.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  value = value.substr(first, value.find_last_not_of(' ') - first + 1);
  return value != "NULL";
}

bool NeedsRewrite(std::string_view statement) {
  return FindReference(statement, 0) != std::string_view::npos ||
         (IsSelect(statement) && FirstSequenceValue(statement) != std::string_view::npos);
}

std::optional<std::string_view> Rewritten(std::string_view statement, std::string& scratch) {
  if (!NeedsRewrite(statement)) return statement;
  scratch.assign(statement);
  if (!RewriteValidStatement(scratch)) return std::nullopt;
  return std::string_view(scratch);
}

bool RewriteValidStatement(std::string& statement) {
  switch (ReadSubstitution(statement)) {
    case SubstitutionForm::kJoined: return false;
    case SubstitutionForm::kInText: SubstituteAsClient(statement); break;
    case SubstitutionForm::kClassic: RewriteReferences(statement); break;
  }
  // A sequence value read inside a block must land in a variable.
  if (IsSelect(statement)) {
    std::size_t value = FirstSequenceValue(statement);
    if (value != std::string::npos) statement.insert(value, " into");
  }
  return true;
}

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
  return HasValidLastValue(statement) && RewriteValidStatement(statement);
}

}  // namespace tavrin

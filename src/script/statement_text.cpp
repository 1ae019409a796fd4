#include "script/statement_text.h"

#include "grouping/group_file_list.h"

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

  // Substitution references become PL/SQL variables: quoted ones first, each
  // taking the statement's last quote with it. Every quoted reference holds
  // "&identity" too, so one search tells whether there is anything to do.
  bool references = marker::kReference.IsIn(statement);
  while (references) {
    std::size_t quoted = marker::kQuotedReference.FindIn(statement);
    if (quoted != std::string::npos) {
      statement.erase(quoted, 2);  // "'&identity" -> "identity"
      std::size_t last_quote = statement.rfind('\'');
      if (last_quote != std::string::npos) statement[last_quote] = ' ';
    } else {
      statement.erase(marker::kReference.FindIn(statement), 1);
    }
    if (statement.empty() || statement.back() != ';') statement.push_back(';');
    references = marker::kReference.IsIn(statement);
  }

  std::size_t currval = marker::kCurrval.FindIn(statement);
  if (currval != std::string::npos) statement.insert(currval + marker::kCurrval.size(), " into");
  return true;
}

}  // namespace tavrin

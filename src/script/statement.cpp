#include "script/statement.h"

#include <cstring>

#include "script/statement_text.h"

namespace tavrin {
namespace {

bool HasAt(std::string_view text, std::size_t at, std::string_view word) {
  return text.size() - at >= word.size() && std::memcmp(text.data() + at, word.data(), word.size()) == 0;
}

// What follows a "tbl_" whose '_' is at `underscore`.
void TableMarker(std::string_view text, std::size_t underscore, TextMarkers& found) {
  const std::size_t name = underscore + 1;
  constexpr std::string_view kAuthentications = "Authentications";
  constexpr std::string_view kTransactions = "Transactions";
  if (HasAt(text, name, kAuthentications)) {
    found.authentications = true;
    if (HasAt(text, name + kAuthentications.size(), "(")) found.authentications_row = true;
  } else if (HasAt(text, name, kTransactions)) {
    found.transactions = true;
    if (HasAt(text, name + kTransactions.size(), "(")) found.transactions_row = true;
  } else if (HasAt(text, name, "Actions")) {
    found.actions = true;
  } else if (HasAt(text, name, "groups")) {
    found.groups = true;
  }
}

}  // namespace

static_assert(sizeof(Statement) == 24, "a statement is packed into 24 bytes");

TextMarkers FindMarkers(std::string_view text) {
  // Every marker holds a '_', and few statements hold many: each '_' is
  // looked at once, for what ends at it and what starts after it.
  TextMarkers found;
  constexpr std::string_view kIdentityStem = "identity";
  constexpr std::string_view kColumnBlank = "COLUMN ";
  const char* data = text.data();
  for (std::size_t at = 0; at < text.size();) {
    const void* hit = std::memchr(data + at, '_', text.size() - at);
    if (!hit) break;
    const std::size_t underscore = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    if (underscore >= kIdentityStem.size() &&
        HasAt(text, underscore - kIdentityStem.size(), kIdentityStem)) {
      const std::size_t start = underscore - kIdentityStem.size();
      if (found.first_identity == TextMarkers::kNone) {
        found.first_identity = start;
      } else {
        found.more_identities = true;
      }
      if (start >= kColumnBlank.size() && HasAt(text, start - kColumnBlank.size(), kColumnBlank))
        found.column_identity = true;
    } else if (underscore >= 3 && HasAt(text, underscore - 3, "tbl")) {
      TableMarker(text, underscore, found);
    }
    at = underscore + 1;
  }
  return found;
}

Statement::Statement(std::string_view statement_text, std::uint64_t read_position)
    : Statement(statement_text, read_position, FindMarkers(statement_text)) {}

Statement::Statement(std::string_view statement_text, std::uint64_t read_position,
                     const TextMarkers& found)
    : text(statement_text), position(read_position & ((std::uint64_t{1} << 40) - 1)) {
  if (found.first_identity != TextMarkers::kNone)
    identity_at = found.first_identity < kFarIdentity ? static_cast<std::uint16_t>(found.first_identity)
                                                      : kFarIdentity;
  traits = static_cast<std::uint8_t>((found.more_identities ? kMoreIdentities : 0) |
                                     (found.column_identity ? kColumnIdentity : 0) |
                                     (found.actions ? kActions : 0) |
                                     (found.transactions ? kTransactions : 0) |
                                     (found.authentications ? kAuthentications : 0) |
                                     (found.groups ? kGroups : 0));
}

std::size_t Statement::FirstIdentityAt() const {
  if (identity_at == kNoIdentity) return std::string_view::npos;
  if (identity_at == kFarIdentity) return marker::kIdentity.FindIn(text);
  return identity_at;
}

std::string_view Statement::FirstIdentity() const {
  const std::size_t at = FirstIdentityAt();
  return at == std::string_view::npos ? std::string_view() : IdentityNameAt(text, at);
}

}  // namespace tavrin

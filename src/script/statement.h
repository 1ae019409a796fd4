#pragma once
// One filed statement: its text, where its line was read, and what the merge
// pass, the joins and the writer ask of it, found by one scan when it is
// filed so that none of them searches the text again.

#include <cstdint>
#include <string_view>

namespace tavrin {

/// The texts a statement holds that decide where it goes and how it is
/// written. Found by one pass over the '_' of the text.
struct TextMarkers {
  static constexpr std::size_t kNone = std::string_view::npos;

  std::size_t first_identity = kNone;  // where the first "identity_" starts
  bool more_identities = false;        // "identity_" occurs after the first one
  bool column_identity = false;        // "COLUMN identity_"
  bool actions = false;                // "tbl_Actions"
  bool transactions = false;           // "tbl_Transactions"
  bool transactions_row = false;       // "tbl_Transactions("
  bool authentications = false;        // "tbl_Authentications"
  bool authentications_row = false;    // "tbl_Authentications("
  bool groups = false;                 // "tbl_groups"
};

TextMarkers FindMarkers(std::string_view text);

struct Statement {
  enum Trait : std::uint8_t {
    kMoreIdentities = 1,
    kColumnIdentity = 2,
    kActions = 4,
    kTransactions = 8,
    kAuthentications = 16,
    kGroups = 32,
  };
  static constexpr std::uint16_t kNoIdentity = 0xFFFF;
  // A first "identity_" too far in to be held: looked for again when asked.
  static constexpr std::uint16_t kFarIdentity = 0xFFFE;

  Statement() = default;
  /// Classifies `text`, which must outlive the statement.
  Statement(std::string_view text, std::uint64_t position);
  /// The same for `text` whose markers were found already.
  Statement(std::string_view text, std::uint64_t position, const TextMarkers& markers);

  std::string_view text;
  /// Where its line was read among the lines of the group. Forty bits: a
  /// group of more lines would need terabytes of memory to convert. Packed
  /// with what follows, a statement takes 24 bytes.
  std::uint64_t position : 40 = 0;

  bool Has(Trait trait) const { return (traits & trait) != 0; }
  /// Where the first "identity_" starts, or npos.
  std::size_t FirstIdentityAt() const;
  /// The identity name at the first "identity_"; empty when there is none.
  std::string_view FirstIdentity() const;

 private:
  std::uint64_t identity_at : 16 = kNoIdentity;
  std::uint64_t traits : 8 = 0;
};

}  // namespace tavrin

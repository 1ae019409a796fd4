#pragma once
// A fixed text searched for in every statement, many millions of times a
// run: the search table is built once, at compile time (Boyer-Moore-Horspool),
// so a search skips ahead by up to the marker's length at each step.

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tavrin {

class Marker {
 public:
  consteval explicit Marker(std::string_view text) : text_(text), skip_{} {
    for (auto& s : skip_) s = static_cast<std::uint8_t>(text.size());
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
      skip_[static_cast<unsigned char>(text[i])] = static_cast<std::uint8_t>(text.size() - 1 - i);
  }

  std::string_view text() const { return text_; }
  std::size_t size() const { return text_.size(); }

  /// Position of the first occurrence at or after `from`, or npos.
  std::size_t FindIn(std::string_view haystack, std::size_t from = 0) const {
    const std::size_t m = text_.size();
    const char last = text_[m - 1];
    for (std::size_t i = from; i + m <= haystack.size();) {
      const char c = haystack[i + m - 1];
      if (c == last && std::memcmp(haystack.data() + i, text_.data(), m - 1) == 0) return i;
      i += skip_[static_cast<unsigned char>(c)];
    }
    return std::string_view::npos;
  }

  bool IsIn(std::string_view haystack) const {
    return FindIn(haystack) != std::string_view::npos;
  }

 private:
  std::string_view text_;
  std::array<std::uint8_t, 256> skip_;
};

/// The texts that classify and shape statements.
namespace marker {
inline constexpr Marker kIdentity{"identity_"};
inline constexpr Marker kColumn{"COLUMN"};
inline constexpr Marker kColumnIdentity{"COLUMN identity_"};
inline constexpr Marker kAuthenticationsRow{"tbl_Authentications("};
inline constexpr Marker kAuthentications{"tbl_Authentications"};
inline constexpr Marker kTransactionsRow{"tbl_Transactions("};
inline constexpr Marker kTransactions{"tbl_Transactions"};
inline constexpr Marker kActions{"tbl_Actions"};
inline constexpr Marker kGroups{"tbl_groups"};
inline constexpr Marker kQuotedReference{"'&identity"};
inline constexpr Marker kReference{"&identity"};
inline constexpr Marker kCurrval{".CURRVAL"};
inline constexpr Marker kNextval{".NEXTVAL"};
inline constexpr Marker kBegin{"BEGIN"};
inline constexpr Marker kEnd{"END"};
}  // namespace marker

}  // namespace tavrin

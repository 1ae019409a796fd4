#pragma once
// The printf-like walk behind the log file. Arguments travel as LogArg, each
// carrying its own type, so a specification never reads a value of the
// wrong size.

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace tavrin {

class LogArg {
 public:
  enum class Kind { kSigned, kUnsigned, kDouble, kText, kPointer };

  template <typename T>
    requires std::is_integral_v<T>
  LogArg(T value)  // NOLINT: implicit on purpose, for the variadic front end
      : kind_(std::is_signed_v<T> ? Kind::kSigned : Kind::kUnsigned),
        signed_(static_cast<std::int64_t>(value)),
        unsigned_(static_cast<std::uint64_t>(value)) {}
  LogArg(double value) : kind_(Kind::kDouble), double_(value) {}  // NOLINT
  LogArg(const char* text) : kind_(Kind::kText), text_(text ? text : "(null)") {}  // NOLINT
  LogArg(const std::string& text) : kind_(Kind::kText), text_(text) {}  // NOLINT
  LogArg(std::string_view text) : kind_(Kind::kText), text_(text) {}  // NOLINT
  LogArg(const void* pointer) : kind_(Kind::kPointer), pointer_(pointer) {}  // NOLINT

  Kind kind() const { return kind_; }
  std::int64_t as_signed() const { return signed_; }
  std::uint64_t as_unsigned() const { return unsigned_; }
  double as_double() const { return double_; }
  std::string_view as_text() const { return text_; }
  const void* as_pointer() const { return pointer_; }

 private:
  Kind kind_;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double double_ = 0;
  std::string_view text_;
  const void* pointer_ = nullptr;
};

/// Expands `format` with `args` and appends the result to `out`:
/// literal runs are copied, `%%` (or `%5%`) gives one `%`, `%n` the count of
/// characters produced so far, and d i o u x X s p c e E f g G format one
/// argument each. Any other specification (a length modifier such as `%ld`
/// included) produces nothing and reports "Invalid format specifier in
/// log().\n" on `errors`; the walk goes on after its last character.
void FormatLog(std::string_view format, std::span<const LogArg> args,
               std::string* out, std::ostream& errors);

}  // namespace tavrin

#include "diag/log_format.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace tavrin {
namespace {

// snprintf into `out` without a fixed buffer: measure first, then write.
template <typename T>
void AppendFormatted(std::string* out, const std::string& conversion, T value) {
  int size = std::snprintf(nullptr, 0, conversion.c_str(), value);
  if (size <= 0) return;
  std::size_t at = out->size();
  out->resize(at + static_cast<std::size_t>(size) + 1);
  std::snprintf(out->data() + at, static_cast<std::size_t>(size) + 1, conversion.c_str(), value);
  out->resize(at + static_cast<std::size_t>(size));
}

// Widens an integer specification so it takes a 64-bit value:
// "%-5d" becomes "%-5" PRId64.
std::string WithLength(std::string_view conversion, const char* length_and_letter) {
  std::string widened(conversion.substr(0, conversion.size() - 1));
  widened += length_and_letter;
  return widened;
}

void FormatInteger(std::string_view conversion, const LogArg& arg, std::string* out) {
  char letter = conversion.back();
  bool is_signed = letter == 'd' || letter == 'i';
  if (arg.kind() == LogArg::Kind::kDouble) {
    // A floating value where an integer is asked for: take its whole part.
    auto whole = static_cast<std::int64_t>(arg.as_double());
    return FormatInteger(conversion, LogArg(whole), out);
  }
  if (arg.kind() != LogArg::Kind::kSigned && arg.kind() != LogArg::Kind::kUnsigned) return;
  if (is_signed) {
    AppendFormatted(out, WithLength(conversion, PRId64), arg.as_signed());
    return;
  }
  const char* length_and_letter = letter == 'o' ? PRIo64 : letter == 'u' ? PRIu64
                         : letter == 'x' ? PRIx64 : PRIX64;
  AppendFormatted(out, WithLength(conversion, length_and_letter), arg.as_unsigned());
}

void FormatOne(std::string_view conversion, const LogArg* arg, std::string* out) {
  if (!arg) return;  // a caller passed too few arguments: write nothing
  std::string text(conversion);
  switch (conversion.back()) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
      FormatInteger(conversion, *arg, out);
      break;
    case 's':
      if (arg->kind() == LogArg::Kind::kText) {
        std::string value(arg->as_text());
        AppendFormatted(out, text, value.c_str());
      }
      break;
    case 'p':
      if (arg->kind() == LogArg::Kind::kPointer) AppendFormatted(out, text, arg->as_pointer());
      break;
    case 'c':
      if (arg->kind() == LogArg::Kind::kSigned || arg->kind() == LogArg::Kind::kUnsigned)
        AppendFormatted(out, text, static_cast<int>(static_cast<unsigned char>(arg->as_unsigned())));
      break;
    default: {  // e E f g G
      double value = arg->kind() == LogArg::Kind::kDouble   ? arg->as_double()
                     : arg->kind() == LogArg::Kind::kSigned ? static_cast<double>(arg->as_signed())
                     : arg->kind() == LogArg::Kind::kUnsigned
                         ? static_cast<double>(arg->as_unsigned())
                         : 0.0;
      AppendFormatted(out, text, value);
      break;
    }
  }
}

// Between '%' and the letter only flags, a width and a precision, each of
// at most four digits: the C library must never meet a positional "$", a
// NUL that would cut the text short, or a width that asks for gigabytes.
bool PlainSpecification(std::string_view middle) {
  std::size_t i = middle.find_first_not_of("-+ #0");
  if (i == std::string_view::npos) return true;
  auto digits = [&] {
    std::size_t from = i;
    while (i < middle.size() && middle[i] >= '0' && middle[i] <= '9') ++i;
    return i - from <= 4;
  };
  if (!digits()) return false;
  if (i < middle.size() && middle[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  return i == middle.size();
}

bool TakesArgument(char letter) {
  switch (letter) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': case 's': case 'p':
    case 'c': case 'e': case 'E': case 'f': case 'g': case 'G':
      return true;
    default:
      return false;
  }
}

}  // namespace

void FormatLog(std::string_view format, std::span<const LogArg> args,
               std::string* out, std::ostream& errors) {
  const std::size_t start = out->size();
  std::size_t next_arg = 0;
  std::size_t i = 0;
  while (i < format.size()) {
    std::size_t percent = format.find('%', i);
    if (percent == std::string_view::npos) percent = format.size();
    out->append(format.substr(i, percent - i));
    if (percent == format.size()) break;

    // The specification runs to the first letter, or to a second '%'.
    std::size_t end = percent + 1;
    while (end < format.size() && format[end] != '%' &&
           !std::isalpha(static_cast<unsigned char>(format[end])))
      ++end;
    if (end == format.size()) {
      // The format stops inside a specification: nothing to format it with.
      errors << "Invalid format specifier in log().\n";
      break;
    }
    std::string_view conversion = format.substr(percent, end - percent + 1);
    char letter = format[end];
    i = end + 1;

    if (letter == '%') {
      out->push_back('%');
    } else if (letter == 'n') {
      out->append(std::to_string(out->size() - start));
    } else if (TakesArgument(letter) &&
               PlainSpecification(conversion.substr(1, conversion.size() - 2))) {
      FormatOne(conversion, next_arg < args.size() ? &args[next_arg] : nullptr, out);
      ++next_arg;
    } else {
      errors << "Invalid format specifier in log().\n";
    }
  }
}

}  // namespace tavrin

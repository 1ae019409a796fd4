#include "script/client_substitution.h"

#include <algorithm>
#include <cstring>

#include "script/statement_text.h"
#include "text/digits.h"

namespace tavrin {
namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::string_view kStem = "identity";

bool HasAt(std::string_view text, std::size_t at, std::string_view word) {
  return at <= text.size() && text.size() - at >= word.size() &&
         std::memcmp(text.data() + at, word.data(), word.size()) == 0;
}

// A reference starting at `at`: where its variable name starts and where
// it ends (after its digits). No reference holds a quote, so one that starts
// inside a text ends inside it.
struct Reference {
  std::size_t name = kNone;
  std::size_t end = kNone;
  bool found() const { return name != kNone; }
};

Reference ReferenceAt(std::string_view text, std::size_t at) {
  if (at >= text.size() || text[at] != '&') return {};
  std::size_t name = at + 1;
  if (name < text.size() && text[name] == '&') ++name;
  if (!HasAt(text, name, kStem) || !HasAt(text, name + kStem.size(), "_")) return {};
  const std::size_t digits = name + kStem.size() + 1;
  const std::size_t end = SkipDigits(text, digits);
  if (end == digits) return {};
  return {name, end};
}

// Where the text opened by the quote at `open` closes, or npos when it does
// not close on this line.
std::size_t ClosingQuote(std::string_view text, std::size_t open) {
  for (std::size_t at = open + 1;;) {
    at = text.find('\'', at);
    if (at == kNone || at + 1 == text.size() || text[at + 1] != '\'') return at;
    at += 2;  // a doubled quote stays inside the text
  }
}

// Finds the quotes and '&'s of a text in order, each kind by memchr from
// one to the next.
class QuotesAndAmpersands {
 public:
  explicit QuotesAndAmpersands(std::string_view text)
      : text_(text), quote_(Find('\'', 0)), ampersand_(Find('&', 0)) {}

  /// Where the first quote or '&' at or after `from` stands, or npos.
  std::size_t Next(std::size_t from) {
    if (quote_ < from) quote_ = Find('\'', from);
    if (ampersand_ < from) ampersand_ = Find('&', from);
    return std::min(quote_, ampersand_);
  }

 private:
  std::size_t Find(char c, std::size_t from) const {
    if (from >= text_.size()) return kNone;
    const void* hit = std::memchr(text_.data() + from, c, text_.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data()) : kNone;
  }

  std::string_view text_;
  std::size_t quote_;
  std::size_t ampersand_;
};

// Where the first '&' in [from, end) stands, or `end`.
std::size_t AmpersandBefore(std::string_view text, std::size_t from, std::size_t end) {
  if (from >= end) return end;
  const void* hit = std::memchr(text.data() + from, '&', end - from);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : end;
}

bool DotAt(std::string_view text, std::size_t at) { return at < text.size() && text[at] == '.'; }

// `text` with every run of '&' before "identity" dropped, as the classic
// rewrite drops it: no "&identity" is left for the client to prompt for.
std::string DropAmpersands(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t amp = text.find('&', at);
    if (amp == kNone) {
      out.append(text.substr(at));
      break;
    }
    out.append(text.substr(at, amp - at));
    std::size_t run_end = amp;
    while (run_end < text.size() && text[run_end] == '&') ++run_end;
    if (!HasAt(text, run_end, kStem)) out.append(text.substr(amp, run_end - amp));
    at = run_end;
  }
  return out;
}

// Appends the text between the quotes at `open` and `close`, rewritten.
void AppendText(std::string& out, std::string_view statement, std::size_t open, std::size_t close) {
  const std::string_view text = statement.substr(open + 1, close - open - 1);
  // A text that is one reference alone keeps the classic bytes.
  const Reference whole = ReferenceAt(text, 0);
  const std::size_t whole_end = whole.found() && DotAt(text, whole.end) ? whole.end + 1 : whole.end;
  if (whole.found() && whole_end == text.size()) {
    out.append(text.substr(whole.name, whole.end - whole.name));
    out.push_back(' ');
    return;
  }
  bool first_piece = true;
  auto append_piece = [&](std::string_view piece, bool literal) {
    if (!first_piece) out.append(" || ");
    first_piece = false;
    if (literal) out.push_back('\'');
    out.append(piece);
    if (literal) out.push_back('\'');
  };
  std::size_t piece = 0;  // where the current text piece starts
  for (std::size_t at = 0; (at = text.find('&', at)) != kNone;) {
    const Reference reference = ReferenceAt(text, at);
    if (!reference.found()) {
      ++at;
      continue;
    }
    if (at > piece) append_piece(text.substr(piece, at - piece), true);
    append_piece(text.substr(reference.name, reference.end - reference.name), false);
    at = piece = DotAt(text, reference.end) ? reference.end + 1 : reference.end;
  }
  // A text without references stays as it is, even when empty.
  if (piece < text.size() || first_piece) append_piece(text.substr(piece), true);
}

}  // namespace

SubstitutionForm ReadSubstitution(std::string_view statement) {
  // Most references stand before the line's first quote. A position after
  // an even number of quotes (a doubled quote adds two) lies outside every
  // text, whatever follows; only a reference after an odd number needs the
  // texts read one by one.
  SubstitutionForm form = SubstitutionForm::kClassic;
  std::size_t quote = statement.find('\'');
  bool odd = false;
  for (std::size_t at = statement.find('&'); at != kNone; at = statement.find('&', at)) {
    const Reference reference = ReferenceAt(statement, at);
    if (!reference.found()) {
      ++at;
      continue;
    }
    for (; quote < at; quote = statement.find('\'', quote + 1)) odd = !odd;
    if (odd) return ReadSubstitutionByTexts(statement);
    const std::size_t end = reference.end;
    if (DotAt(statement, end)) {
      if (end + 1 < statement.size() && IsWordCharacter(statement[end + 1]))
        return SubstitutionForm::kJoined;
      form = SubstitutionForm::kInText;
    }
    at = end;
  }
  return form;
}

SubstitutionForm ReadSubstitutionByTexts(std::string_view statement) {
  if (statement.find('&') == kNone) return SubstitutionForm::kClassic;
  SubstitutionForm form = SubstitutionForm::kClassic;
  QuotesAndAmpersands marks(statement);
  for (std::size_t at = 0; (at = marks.Next(at)) != kNone;) {
    if (statement[at] == '&') {
      const Reference reference = ReferenceAt(statement, at);
      if (!reference.found()) {
        ++at;
        continue;
      }
      if (DotAt(statement, reference.end)) {
        const std::size_t after = reference.end + 1;
        if (after < statement.size() && IsWordCharacter(statement[after]))
          return SubstitutionForm::kJoined;
        form = SubstitutionForm::kInText;
      }
      at = reference.end;
      continue;
    }
    const std::size_t close = ClosingQuote(statement, at);
    if (close == kNone) {
      ++at;
      continue;
    }
    for (std::size_t inside = at + 1; (inside = AmpersandBefore(statement, inside, close)) < close;) {
      const Reference reference = ReferenceAt(statement, inside);
      if (!reference.found()) {
        ++inside;
        continue;
      }
      if (inside != at + 1 || reference.end != close) form = SubstitutionForm::kInText;
      inside = reference.end;
    }
    at = close + 1;
  }
  return form;
}

void SubstituteAsClient(std::string& statement) {
  const std::string_view in = statement;
  std::string out;
  out.reserve(in.size() + 16);
  std::size_t copied = 0;  // what lies before this is in `out` already
  QuotesAndAmpersands marks(in);
  for (std::size_t at = 0; (at = marks.Next(at)) != kNone;) {
    if (in[at] == '&') {
      const Reference reference = ReferenceAt(in, at);
      if (reference.found()) {
        out.append(in.substr(copied, at - copied));
        out.append(in.substr(reference.name, reference.end - reference.name));
        at = copied = reference.end + (DotAt(in, reference.end) ? 1 : 0);
      } else {
        ++at;
      }
      continue;
    }
    const std::size_t close = ClosingQuote(in, at);
    if (close == kNone) {
      ++at;
      continue;
    }
    out.append(in.substr(copied, at - copied));
    AppendText(out, in, at, close);
    at = copied = close + 1;
  }
  out.append(in.substr(copied));
  statement = DropAmpersands(out);
  if (!EndsWithSemicolon(statement)) statement.push_back(';');
}

}  // namespace tavrin

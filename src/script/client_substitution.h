#pragma once
// The client's own substitution of &identity_N references, for the lines the
// classic rewrite would get wrong. The client replaces a reference anywhere
// in a line, inside quoted texts too, and takes one '.' right after it as the
// end of the name. A reference is "&identity_" or "&&identity_" followed by
// at least one digit.
//
// A quoted text runs from a quote to the next quote that is not doubled; a
// quote with no closing quote on its line opens no text.

#include <string>
#include <string_view>

namespace tavrin {

/// How the references of a statement read.
enum class SubstitutionForm {
  /// Every reference stands alone, outside any text or as a whole text
  /// ('&identity_3'): the classic rewrite gives what the client gives.
  kClassic,
  /// A reference inside a longer text, or one ended by '.': the statement
  /// needs SubstituteAsClient.
  kInText,
  /// A reference outside a text joined by '.' to a letter, digit or '_'
  /// (&identity_1.5): the client would join its value with what follows,
  /// which no variable can express. The statement is to be dropped.
  kJoined,
};

/// Reads the references of `statement`.
SubstitutionForm ReadSubstitution(std::string_view statement);

/// The same, read text by text in one pass: what ReadSubstitution does for a
/// line with a reference after an odd number of quotes, and the model its
/// faster reading of the others is tested against.
SubstitutionForm ReadSubstitutionByTexts(std::string_view statement);

/// Rewrites a statement of form kInText as the client substitutes it. A
/// reference outside a text becomes its variable name, its '.' dropped. A
/// text holding references becomes its pieces joined by " || ": its text
/// pieces as literals (doubled quotes kept, empty ones dropped) and its
/// references as variable names, each losing a '.' right after it; a text
/// that is one reference alone becomes the name and a blank, as the classic
/// rewrite writes it. Any other '&' before "identity" is dropped, as the
/// classic rewrite drops it. A ';' is added unless the statement ends in
/// one (blanks, tabs and CRs after it aside).
void SubstituteAsClient(std::string& statement);

}  // namespace tavrin

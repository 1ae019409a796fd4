#pragma once
// Reading and rewriting single statements.

#include <optional>
#include <string>
#include <string_view>

#include "script/marker.h"

namespace tavrin {

/// The identity name at `at` (where "identity_" starts): "identity_" and the
/// digits that directly follow it, possibly none.
std::string_view IdentityNameAt(std::string_view statement, std::size_t at);

/// The identity name at the first "identity_" of the statement; empty when
/// there is none.
std::string_view FirstIdentityName(std::string_view statement);

/// Whether `c` is a letter, a digit or '_'.
bool IsWordCharacter(char c);

/// Whether the statement's first word, in any case, is SELECT.
bool IsSelect(std::string_view statement);

/// Whether the statement ends in ";", blanks, tabs and CRs after it aside.
bool EndsWithSemicolon(std::string_view statement);

/// Checks a statement and rewrites it from SQL*Plus substitution form
/// (&identity_N, '&identity_N') into the form that runs inside one PL/SQL
/// block. Returns false for a statement whose last value before its last ')'
/// is empty or NULL, or that joins a reference to what follows it with '.'
/// (script/client_substitution.h); such a statement is to be dropped.
bool RewriteStatement(std::string& statement);

/// The check of RewriteStatement alone: false when the last value before the
/// last ')' is empty or NULL.
bool HasValidLastValue(std::string_view statement);

/// Whether RewriteStatement would change a statement that passes the check.
bool NeedsRewrite(std::string_view statement);

/// The rewrite of RewriteStatement alone, for a statement that passed the
/// check of its last value; false for a reference joined to what follows it.
bool RewriteValidStatement(std::string& statement);

/// A statement that passed the check of its last value as RewriteStatement
/// leaves it: itself when nothing changes, otherwise rewritten in `scratch`;
/// nothing when it joins a reference to what follows it and is to be dropped.
std::optional<std::string_view> Rewritten(std::string_view statement, std::string& scratch);

}  // namespace tavrin

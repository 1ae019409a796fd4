#pragma once
// Reading and rewriting single statements.

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

/// Checks a statement and rewrites it from SQL*Plus substitution form
/// (&identity_N, '&identity_N') into the form that runs inside one PL/SQL
/// block. Returns false for a statement whose last value before its last ')'
/// is empty or NULL; such a statement is to be dropped.
bool RewriteStatement(std::string& statement);

/// The check of RewriteStatement alone: false when the last value before the
/// last ')' is empty or NULL.
bool HasValidLastValue(std::string_view statement);

/// Whether RewriteStatement would change a statement that passes the check.
bool NeedsRewrite(std::string_view statement);

/// The rewrite of RewriteStatement alone, for a statement that passed the check.
void RewriteValidStatement(std::string& statement);

/// A statement that passed the check as RewriteStatement leaves it: itself
/// when nothing changes, otherwise rewritten in `scratch`.
std::string_view Rewritten(std::string_view statement, std::string& scratch);

}  // namespace tavrin

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

}  // namespace tavrin

#pragma once
// Filing statements under their keys while a group is read, and the two
// moves that put a parent row in front of an identity's statements.

#include <string>
#include <string_view>

#include "diag/diagnostics.h"
#include "script/group_state.h"

namespace tavrin {

inline constexpr std::string_view kOthersKey = "others_-2";
inline constexpr std::string_view kAuthenticationsKey = "Authentications_-1";

/// Reports a statement that names an identity with no entry in the store;
/// the caller skips it.
void WarnUnknownIdentity(Diagnostics& diag, std::string_view key);

/// Rewrites `statement`, which holds `markers` (in `scratch` when it changes) and appends it to
/// `key`'s statements (creating the entry); an empty statement is ignored and
/// an invalid one reported and dropped.
void AddRecordToKey(GroupState& state, Diagnostics& diag, std::string_view key,
                    std::string_view statement, const TextMarkers& markers, std::string& scratch);

/// After a declaration of `key`: moves the latest transaction row of
/// "others_-2" to the front of `key`'s statements.
void AttachTransaction(GroupState& state, std::string_view key);

/// Whether `key` exists and its first statement is an authentication row.
bool EntryStartsWithAuthentication(GroupState& state, std::string_view key);

/// For a group record filed under the entry `target`: moves the latest
/// unattached authentication row to the front of `target`'s statements, or
/// warns that there is none.
void AttachAuthentication(GroupState& state, Diagnostics& diag, StoreEntry& target);

}  // namespace tavrin

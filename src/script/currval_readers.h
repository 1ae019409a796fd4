#pragma once
// Plain rows that read a sequence's current value: such a row, left among
// the rows of no identity, reads the value of the NEXTVAL that ran last
// before it in the log. That NEXTVAL belongs to some transaction's block; the
// row must run in that block, or it reads another transaction's number (or
// none, when the block of plain rows runs first).

#include "script/group_state.h"

namespace tavrin {

/// Moves each statement of "others_-2" that is no SELECT and reads
/// S.CURRVAL (S the word before its first ".CURRVAL") to the end of the
/// entry holding the latest statement before it, in read order, that holds
/// S.NEXTVAL (no word character right before S), when that entry is another
/// one. The entries are taken as they stand before the first move; a row
/// keeps its read position. One pass over the statements in read order.
void JoinCurrvalReaders(GroupState& state);

}  // namespace tavrin

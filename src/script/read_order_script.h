#pragma once
// The group as one block (-R): every statement the blocks of the default
// layout would write, in the order the log holds them. A failing statement
// then rolls back the whole group, but rows of no identity run exactly where
// the log ran them.

#include "script/script_sink.h"
#include "script/statement_store.h"

namespace tavrin {

/// Writes the store's statements as one block: DECLARE with the names the
/// default layout's blocks declare, each once, in the order they declare
/// them; BEGIN; the lines those blocks write, each once, in read order; END;
/// and "/". Writes nothing when no entry holds a statement. Sorts each
/// entry's statements by read position.
void WriteReadOrderBlock(StatementStore& store, ScriptSink& out);

}  // namespace tavrin

#pragma once
// The group as one block (-R): every statement the blocks of the default
// layout would write, in the order the log holds them. A failing statement
// then rolls back the whole group, but rows of no identity run exactly where
// the log ran them.

#include <string_view>
#include <vector>

#include "script/statement_store.h"

namespace tavrin {

/// The store's statements as one block: DECLARE with the names the default
/// layout's blocks declare, each once, in the order they declare them;
/// BEGIN; the lines those blocks write, each once, in read order; END; and
/// "/". Nothing when no entry holds a statement.
class ReadOrderBlock {
 public:
  /// Gathers the block's names and lines, and sorts each entry's statements
  /// by read position. The store must not change while the block is written.
  explicit ReadOrderBlock(StatementStore& store);

  /// Writes the block's lines to `out`: a ScriptSink, or a CommitFinder
  /// that judges them before the script's header is written.
  template <typename Out>
  void Write(Out& out) const;

 private:
  std::vector<std::string_view> names_;
  std::vector<const Statement*> lines_;
  bool written_ = false;  // some entry holds a statement
};

}  // namespace tavrin

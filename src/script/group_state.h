#pragma once
// What the conversion of one group keeps between its steps. The parse stage
// owns one for the whole run; the script writer empties it after each group.

#include <string>
#include <unordered_map>
#include <vector>

#include "script/statement_store.h"
#include "script/text_arena.h"

namespace tavrin {

/// Where each key that was merged away went: merged key -> key it went into.
using MergeMap = std::unordered_map<std::string, std::string>;

struct GroupState {
  StatementStore store;
  TextArena texts;
  MergeMap merge_map;
  /// The statements of "others_-2" that contain "tbl_Transactions", oldest
  /// first, so a declaration finds the latest one without scanning the rest.
  std::vector<StatementList::iterator> transaction_rows;

  void Clear() {
    store.Clear();
    merge_map.clear();
    transaction_rows.clear();
    texts.Clear();
  }
};

}  // namespace tavrin

#pragma once
// What the conversion of one group keeps between its steps. The parse stage
// owns one for the whole run; the script writer empties it after each group.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "script/statement_store.h"
#include "script/text_arena.h"

namespace tavrin {

/// Where each key that was merged away went: merged key -> key it went into.
/// Both are views of the store's own key bytes (or of texts that outlive the
/// group), which last until the store is cleared with the map.
using MergeMap = std::unordered_map<std::string_view, std::string_view>;

/// How many statements the merge pass and the joins looked at in the group:
/// each should see a statement a bounded number of times, whatever the
/// shape of the references. Tests read them; nothing else does.
struct WalkCounts {
  std::uint64_t merge_pass = 0;
  std::uint64_t joins = 0;
};

struct GroupState {
  StatementStore store;
  TextArena texts;
  MergeMap merge_map;
  WalkCounts walked;
  /// The statements of "others_-2" that contain "tbl_Transactions", oldest
  /// first, so a declaration finds the latest one without scanning the rest.
  std::vector<StatementList::iterator> transaction_rows;
  /// The read position of the line being filed: the lines of the group
  /// counted from 0 in the order their files and the lines in them are read.
  std::uint64_t line_position = 0;

  /// `text`, kept for the rest of the group, as a statement of the line
  /// being filed.
  Statement Keep(std::string_view text) { return Statement(texts.Store(text), line_position); }

  /// The same for the line being filed, as read (`line`, with its markers)
  /// or as rewritten (`text`, anything else).
  Statement Keep(std::string_view text, std::string_view line, const TextMarkers& markers) {
    if (text.data() != line.data()) return Keep(text);
    return Statement(texts.Store(text), line_position, markers);
  }

  void Clear() {
    store.Clear();
    merge_map.clear();
    walked = {};
    transaction_rows.clear();
    texts.Clear();
    line_position = 0;
  }
};

}  // namespace tavrin

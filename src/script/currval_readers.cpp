#include "script/currval_readers.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "script/statement_filing.h"
#include "script/statement_text.h"

namespace tavrin {
namespace {

// The word (letters, digits, '_') that ends right before `dot`.
std::string_view WordBefore(std::string_view text, std::size_t dot) {
  std::size_t start = dot;
  while (start > 0 && IsWordCharacter(text[start - 1])) --start;
  return text.substr(start, dot - start);
}

// A statement the pass looks at: a row of "others_-2" that reads
// `sequence`.CURRVAL, or one that holds `sequence`.NEXTVAL.
struct Event {
  std::uint64_t position;
  std::string_view sequence;
  StoreEntry* holder;              // the entry of a NEXTVAL; null for a reader
  StatementList::iterator reader;  // a reader, in "others_-2"
};

}  // namespace

void JoinCurrvalReaders(GroupState& state) {
  StatementStore& store = state.store;
  const StoreCursor others = store.Find(kOthersKey);
  if (others.at_end()) return;
  StatementList& rows = others->statements;

  // The latest entry that took each sequence's NEXTVAL, for the sequences
  // that rows of no identity read; null until one did.
  std::unordered_map<std::string_view, StoreEntry*> latest;
  std::vector<Event> events;
  for (auto it = rows.begin(); it != rows.end(); ++it) {
    const std::string_view text = it->text;
    const std::size_t currval = marker::kCurrval.FindIn(text);
    if (currval == std::string_view::npos || IsSelect(text)) continue;
    const std::string_view sequence = WordBefore(text, currval);
    if (sequence.empty()) continue;
    latest.try_emplace(sequence, nullptr);
    events.push_back(Event{it->position, sequence, nullptr, it});
  }
  if (events.empty()) return;

  // Every NEXTVAL of those sequences, wherever it stands now.
  for (StoreCursor entry = store.Begin(); !entry.at_end(); store.Advance(entry)) {
    for (const Statement& statement : entry->statements) {
      const std::string_view text = statement.text;
      for (std::size_t at = marker::kNextval.FindIn(text); at != std::string_view::npos;
           at = marker::kNextval.FindIn(text, at + 1)) {
        auto sequence = latest.find(WordBefore(text, at));
        if (sequence != latest.end())
          events.push_back(Event{statement.position, sequence->first, &*entry, {}});
      }
    }
  }

  // In read order; a row that reads and takes a value itself reads the one
  // taken before it.
  std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    if (a.position != b.position) return a.position < b.position;
    return a.holder == nullptr && b.holder != nullptr;
  });
  std::vector<std::pair<StatementList::iterator, StoreEntry*>> moves;
  for (const Event& event : events) {
    StoreEntry*& taken_by = latest.find(event.sequence)->second;
    if (event.holder) {
      taken_by = event.holder;
    } else if (taken_by && taken_by != &*others) {
      moves.emplace_back(event.reader, taken_by);
    }
  }
  // Moved only now, so that every row found its entry as the entries stood.
  for (auto [row, target] : moves) target->statements.splice(target->statements.end(), rows, row);
}

}  // namespace tavrin

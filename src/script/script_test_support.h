#pragma once
// Builds group states and captures messages for the script tests.

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "diag/diagnostics.h"
#include "platform/env.h"
#include "script/group_state.h"

namespace tavrin::test {

struct CapturedDiagnostics {
  std::ostringstream out, err;
  Diagnostics diag{out, err};
};

/// Keeps what is written to it in `bytes`.
class StringFile : public OutputFile {
 public:
  explicit StringFile(std::string* bytes) : bytes_(bytes) {}
  bool Append(std::string_view data) override {
    bytes_->append(data);
    return true;
  }
  bool Close() override { return true; }
  bool Sync() override { return true; }

 private:
  std::string* bytes_;
};

/// Keys with their statements, in order.
using Entries = std::vector<std::pair<std::string, std::vector<std::string>>>;

/// Inserts entries in the order given, their texts kept in the state.
inline void Fill(GroupState& state, const Entries& entries) {
  for (const auto& [key, statements] : entries) {
    StoreEntry entry{key, {}};
    // Read positions follow the order given, across entries.
    for (const std::string& s : statements) {
      entry.statements.push_back(state.Keep(s));
      ++state.line_position;
    }
    state.store.Insert(std::move(entry));
  }
}

/// Keys with their statements and each statement's read position.
using PositionedEntries =
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::uint64_t>>>>;

/// Inserts entries in the order given, with the read positions given.
inline void FillAt(GroupState& state, const PositionedEntries& entries) {
  for (const auto& [key, statements] : entries) {
    StoreEntry entry{key, {}};
    for (const auto& [text, position] : statements)
      entry.statements.push_back(Statement(state.texts.Store(text), position));
    state.store.Insert(std::move(entry));
  }
}

/// Every entry in walking order.
inline Entries Contents(GroupState& state) {
  Entries entries;
  for (StoreCursor c = state.store.Begin(); !c.at_end(); state.store.Advance(c))
  {
    std::vector<std::string> texts;
    for (const Statement& s : c->statements) texts.emplace_back(s.text);
    entries.emplace_back(c->key, std::move(texts));
  }
  return entries;
}

}  // namespace tavrin::test

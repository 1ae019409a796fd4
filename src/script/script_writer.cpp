#include "script/script_writer.h"

#include <algorithm>
#include <array>
#include <vector>

#include "script/block_lines.h"
#include "script/currval_readers.h"
#include "script/key_merging.h"
#include "script/read_order_script.h"
#include "script/statement_filing.h"
#include "script/statement_text.h"

namespace tavrin {
namespace {

// One BEGIN ... END; block for the statements of one entry.
template <typename Out>
void WriteBlock(const StatementList& statements, Out& out) {
  out.Line("BEGIN");
  ForEachWrittenStatement(
      statements, [&](const Statement& statement) { WriteStatementLine(statement, out); },
      // The line taken back is a tab, the statement and CR LF.
      [&](const Statement& statement) { out.DropLastLine(statement.text.size() + 3); });
  out.Line("END;");
  out.Line("/");
}

template <typename Out>
void WriteEntry(const StoreEntry& entry, Out& out) {
  const std::vector<std::string_view> names = DeclaredNames(entry.statements);
  if (!names.empty()) {
    out.Line("DECLARE");
    for (std::string_view name : names) out.Line("\t", name, " NUMBER;");
  }
  if (!entry.statements.empty()) WriteBlock(entry.statements, out);
}

// More runs than this are sorted instead: merging looks at every run's
// next block for each block it writes.
constexpr std::size_t kMaxMergedRuns = 16;

// The next block of a run after `cursor`, or the end when the run ends at
// `run_end` (the next run's first block) or at the end of the store.
void NextInRun(StatementStore& store, StoreCursor& cursor, const StoreCursor& run_end) {
  do {
    store.Advance(cursor);
  } while (!cursor.at_end() && cursor != run_end && cursor->statements.empty());
  if (cursor == run_end) cursor = StoreCursor{};
}

// Writes the blocks of ascending runs of the walk, each run's blocks in read
// order, by their first statements; a tie goes to the run walked first.
void MergeRuns(StatementStore& store, const std::vector<StoreCursor>& runs, ScriptSink& out) {
  std::vector<StoreCursor> next = runs;
  for (;;) {
    std::size_t pick = next.size();
    for (std::size_t i = 0; i < next.size(); ++i) {
      if (next[i].at_end()) continue;
      if (pick == next.size() || next[i]->statements.front().position <
                                     next[pick]->statements.front().position)
        pick = i;
    }
    if (pick == next.size()) return;
    WriteEntry(*next[pick], out);
    NextInRun(store, next[pick], pick + 1 < runs.size() ? runs[pick + 1] : StoreCursor{});
  }
}

// Letters, digits, _, $ and #: the bytes of a word. Looked up for every byte
// a history script writes.
constexpr std::array<bool, 256> kWordBytes = [] {
  std::array<bool, 256> bytes{};
  for (int c = 0; c < 256; ++c)
    bytes[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '$' || c == '#';
  return bytes;
}();

bool IsWordByte(char c) { return kWordBytes[static_cast<unsigned char>(c)]; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether `text` holds `word` (upper case) at `at`, in any case.
bool HoldsAt(std::string_view text, std::size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (Upper(text[at + i]) != word[i]) return false;
  return true;
}

bool IsTransactionWord(std::string_view word) {
  return (word.size() == 6 && HoldsAt(word, 0, "COMMIT")) ||
         (word.size() == 8 && HoldsAt(word, 0, "ROLLBACK"));
}

// Whether a word of `text`, quotes not looked at, is COMMIT or ROLLBACK.
bool HoldsTransactionWord(std::string_view text) {
  std::size_t word = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && IsWordByte(text[i])) continue;
    if (IsTransactionWord(text.substr(word, i - word))) return true;
    word = i + 1;
  }
  return false;
}

// The texts that run a statement of their own or end the transaction,
// wherever they stand.
bool HoldsDynamicStatement(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = Upper(line[i]);
    if (c == 'D') {
      if (HoldsAt(line, i, "DBMS_SQL") || HoldsAt(line, i, "DBMS_TRANSACTION")) return true;
    } else if (c == 'E') {
      if (HoldsAt(line, i, "EXEC_DDL_STATEMENT")) return true;
      if (!HoldsAt(line, i, "EXECUTE")) continue;
      std::size_t at = i + 7;
      while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
      if (at > i + 7 && HoldsAt(line, at, "IMMEDIATE")) return true;
    }
  }
  return false;
}

// Where the text opened by the quote at `open` ends: the next quote that
// the byte after it does not double, or npos. `all_even_from` remembers a
// search that found none: every run of quotes that starts after it has an
// even length, so a later text that reaches it ends nowhere either, and no
// line is searched to its end more than once.
std::size_t TextEnd(std::string_view line, std::size_t open, std::size_t& all_even_from) {
  std::size_t at = open + 1;
  // The rest of the opening quote's own run.
  while (at < line.size() && line[at] == '\'') {
    if (at + 1 < line.size() && line[at + 1] == '\'') at += 2;
    else return at;
  }
  if (at >= all_even_from) return std::string_view::npos;
  for (const std::size_t from = at;;) {
    at = line.find('\'', at);
    if (at == std::string_view::npos) {
      all_even_from = from;
      return at;
    }
    if (at + 1 < line.size() && line[at + 1] == '\'') at += 2;
    else return at;
  }
}

char ClosingDelimiter(char open) {
  switch (open) {
    case '[': return ']';
    case '{': return '}';
    case '<': return '>';
    case '(': return ')';
    default: return open;
  }
}

// Whether `line` holds COMMIT or ROLLBACK as a word outside its texts.
bool HoldsTransactionWordOutsideTexts(std::string_view line) {
  std::size_t all_even_from = std::string_view::npos;
  std::size_t word = 0;  // where the word before `i` starts
  for (std::size_t i = 0; i < line.size();) {
    if (IsWordByte(line[i])) {
      ++i;
      continue;
    }
    const std::string_view before = line.substr(word, i - word);
    if (line[i] == '\'' && before.size() == 1 && Upper(before[0]) == 'Q') {
      // A q-text: its content counts as outside, its quotes open nothing.
      // One that is never closed runs to the end of the line.
      std::size_t end = line.size();
      if (i + 1 < line.size()) {
        const char close = ClosingDelimiter(line[i + 1]);
        for (std::size_t at = i + 2; at + 1 < line.size(); ++at) {
          if (line[at] == close && line[at + 1] == '\'') {
            end = at;
            break;
          }
        }
      }
      const std::size_t content = std::min(i + 2, end);
      if (HoldsTransactionWord(line.substr(content, end - content))) return true;
      i = end == line.size() ? end : end + 2;
      word = i;
      continue;
    }
    if (IsTransactionWord(before)) return true;
    if (line[i] == '\'') {
      const std::size_t end = TextEnd(line, i, all_even_from);
      if (end != std::string_view::npos) i = end;
    }
    word = ++i;
  }
  return IsTransactionWord(line.substr(word));
}

// The lines before the first block. With the history, the script's first
// statement records its import, and a failure there ends it untouched; an
// atomic script commits only at EXIT. The mark before those lines is decided
// on the lines `body(finder)` writes.
template <typename Body>
void WriteHeader(bool history, bool atomic, Body body, ScriptSink& out) {
  out.Line("SET VERIFY OFF");
  if (!history && !atomic) return;
  CommitFinder finder;
  body(finder);
  if (finder.found()) out.Line(kNotAtomicLine);
  if (!atomic)
    for (std::string_view line : kHistoryLines) out.Line(line);
  else if (history)
    for (std::string_view line : kAtomicHistoryLines) out.Line(line);
  else
    for (std::string_view line : kAtomicLines) out.Line(line);
}

}  // namespace

bool LineCanCommit(std::string_view line) {
  return HoldsDynamicStatement(line) || HoldsTransactionWordOutsideTexts(line);
}

void CommitFinder::Line(std::string_view a, std::string_view b, std::string_view c) {
  if (found_) return;
  // The line before stays now.
  found_ = last_;
  if (found_) return;
  line_.assign(a).append(b).append(c);
  last_ = LineCanCommit(line_);
  last_size_ = line_.size() + 2;
}

void DistributeAuthentications(GroupState& state, Diagnostics& diag) {
  StatementStore& store = state.store;
  StoreCursor authentications = store.Find(kAuthenticationsKey);
  if (authentications.at_end()) return;
  StatementList& rows = authentications->statements;
  while (!rows.empty()) {
    const std::string_view name = rows.front().FirstIdentity();
    if (name.empty()) {
      // A login row of no identity runs with the plain rows, which it
      // starts when there are none.
      StoreCursor others = store.Find(kOthersKey);
      if (others.at_end()) others = store.Insert(StoreEntry{kOthersKey, {}}).first;
      others->statements.splice(others->statements.end(), rows, rows.begin());
      continue;
    }
    StoreCursor owner = store.Find(name);
    if (owner.at_end()) {
      WarnUnknownIdentity(diag, name);
      rows.pop_front();
    } else {
      owner->statements.splice(owner->statements.end(), rows, rows.begin());
    }
  }
  store.Erase(kAuthenticationsKey);
}

void WriteScript(GroupState& state, Diagnostics& diag, ScriptSink& out, ScriptLayout layout,
                 bool history, bool atomic) {
  diag.out() << "\n\n\tDumping memory contents to a file";
  diag.log("\n[ParseFileList]Dumping memory contents to output file\n\n");
  DistributeAuthentications(state, diag);
  JoinCurrvalReaders(state);
  MergePass(state, diag);
  JoinToClosure(state);
  if (layout == ScriptLayout::kReadOrder) {
    const ReadOrderBlock block(state.store);
    WriteHeader(history, atomic, [&](CommitFinder& finder) { block.Write(finder); }, out);
    block.Write(out);
    out.Text("EXIT");
    state.Clear();
    return;
  }

  // The log's order: each block's statements as they were read, and the
  // blocks by the first of them, blocks that tie in walking order. Blocks
  // never interleave. The walk is in that order already, or nearly: key
  // numbers that wrap round start a second run. So the walk is cut into its
  // ascending runs, and those are merged, which needs no list of a million
  // blocks at the group's peak of memory; only a walk of many runs is sorted.
  StatementStore& store = state.store;
  auto by_position = [](const Statement& a, const Statement& b) { return a.position < b.position; };
  std::vector<StoreCursor> runs;  // the first block of each run
  std::uint64_t last_first = 0;
  for (StoreCursor entry = store.Begin(); !entry.at_end(); store.Advance(entry)) {
    if (entry->statements.empty()) continue;
    // Most blocks are in read order already; sorting costs more than looking.
    if (!std::is_sorted(entry->statements.begin(), entry->statements.end(), by_position))
      entry->statements.sort(by_position);
    const std::uint64_t first = entry->statements.front().position;
    if (runs.empty() || first < last_first) runs.push_back(entry);
    last_first = first;
  }

  // Each line is judged alone, so the finder may take the blocks in the
  // walk's order rather than merge them again.
  WriteHeader(
      history, atomic,
      [&](CommitFinder& finder) {
        for (StoreCursor entry = store.Begin(); !entry.at_end(); store.Advance(entry))
          WriteEntry(*entry, finder);
      },
      out);
  if (runs.size() <= kMaxMergedRuns) {
    MergeRuns(store, runs, out);
  } else {
    std::vector<const StoreEntry*> blocks;
    blocks.reserve(store.size());
    for (StoreCursor entry = store.Begin(); !entry.at_end(); store.Advance(entry))
      if (!entry->statements.empty()) blocks.push_back(&*entry);
    std::stable_sort(blocks.begin(), blocks.end(), [](const StoreEntry* a, const StoreEntry* b) {
      return a->statements.front().position < b->statements.front().position;
    });
    for (const StoreEntry* block : blocks) WriteEntry(*block, out);
  }
  out.Text("EXIT");

  state.Clear();
}

}  // namespace tavrin

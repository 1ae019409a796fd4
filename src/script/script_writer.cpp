#include "script/script_writer.h"

#include <algorithm>
#include <vector>

#include "script/key_merging.h"
#include "script/statement_filing.h"
#include "script/statement_text.h"

namespace tavrin {
namespace {

constexpr std::string_view kDeclareLine = "\tDECLARE\r\n";
constexpr std::string_view kBeginLine = "\tBEGIN\r\n";

// One BEGIN ... END; block for the statements of one entry. A statement that
// is exactly DECLARE followed by one with BEGIN drops the DECLARE line; one
// that is exactly BEGIN followed by one with END drops the BEGIN line, that
// statement and the two after it.
void WriteBlock(const StatementList& statements, ScriptSink& out) {
  out.Line("BEGIN");
  std::string_view previous;
  bool previous_line_is_last = false;  // the previous statement's line was written last
  for (auto it = statements.begin(); it != statements.end();) {
    std::string_view current = *it;
    if (previous_line_is_last && previous == "DECLARE" && marker::kBegin.IsIn(current)) {
      out.DropLastLine(kDeclareLine.size());
    } else if (previous_line_is_last && previous == "BEGIN" && marker::kEnd.IsIn(current)) {
      out.DropLastLine(kBeginLine.size());
      previous_line_is_last = false;
      for (int skip = 0; skip < 3 && it != statements.end(); ++skip) ++it;
      continue;
    }
    out.Line("\t", marker::kColumnIdentity.IsIn(current) ? "--" : "", current);
    previous = current;
    previous_line_is_last = true;
    ++it;
  }
  out.Line("END;");
  out.Line("/");
}

void WriteEntry(const StoreEntry& entry, ScriptSink& out) {
  // Declarations in byte order of their names, each once.
  std::vector<std::string_view> names;
  for (std::string_view statement : entry.statements) {
    std::string_view name = FirstIdentityName(statement);
    // Runs of one name are common (an identity's own rows): keep one of each run.
    if (!name.empty() && (names.empty() || names.back() != name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  if (!names.empty()) {
    out.Line("DECLARE");
    for (std::string_view name : names) out.Line("\t", name, " NUMBER;");
  }
  if (!entry.statements.empty()) WriteBlock(entry.statements, out);
}

}  // namespace

void DistributeAuthentications(GroupState& state) {
  StatementStore& store = state.store;
  StoreCursor authentications = store.Find(kAuthenticationsKey);
  if (authentications.at_end()) return;
  StatementList& rows = authentications->statements;
  while (!rows.empty()) {
    std::string_view name = FirstIdentityName(rows.front());
    StoreCursor owner = store.Find(name.empty() ? kOthersKey : name);
    if (owner.at_end()) {
      rows.pop_front();
    } else {
      owner->statements.splice(owner->statements.end(), rows, rows.begin());
    }
  }
  store.Erase(kAuthenticationsKey);
}

void WriteScript(GroupState& state, Diagnostics& diag, ScriptSink& out) {
  diag.out() << "\n\n\tDumping memory contents to a file";
  diag.log("\n[ParseFileList]Dumping memory contents to output file\n\n");
  DistributeAuthentications(state);
  MergePass(state, diag);

  out.Line("SET VERIFY OFF");
  StatementStore& store = state.store;
  for (StoreCursor entry = store.Begin(); !entry.at_end(); store.Advance(entry))
    WriteEntry(*entry, out);
  out.Text("EXIT");

  state.Clear();
}

}  // namespace tavrin

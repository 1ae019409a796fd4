#include "script/statement_filing.h"

#include "script/statement_text.h"

namespace tavrin {

void WarnUnknownIdentity(Diagnostics& diag, std::string_view key) {
  diag.out() << "[ParseFileList] Warning : Uanble to find the identity key for identity " << key
             << " in the map. The entry has been skipped." << std::endl;
  diag.log("[ParseFileList]Warning : Unable to find identity key for identity %s in map "
           "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\tThe entry has been skipped.\n",
           key);
}

void AddRecordToKey(GroupState& state, Diagnostics& diag, std::string_view key,
                    std::string_view statement, const TextMarkers& markers, std::string& scratch) {
  if (statement.empty()) return;
  // A rejected statement is reported as it was read.
  std::optional<std::string_view> text;
  if (HasValidLastValue(statement)) text = Rewritten(statement, scratch);
  if (!text) {
    diag.log("\t[AddRecordToKey]Found an invalid SQL statement %s. Skipped.\n", statement);
    diag.out() << "\t[AddRecordToKey]Found an invalid SQL statement " << statement << ". Skipped."
               << std::endl;
    return;
  }
  StatementStore& store = state.store;
  StoreCursor& cursor = store.cursor();
  cursor = store.Find(key);
  const Statement stored = state.Keep(*text, statement, markers);
  const bool transaction_row = key == kOthersKey && stored.Has(Statement::kTransactions);
  if (cursor.at_end()) {
    cursor = store.Insert(StoreEntry{key, {stored}}).first;
  } else {
    cursor->statements.push_back(stored);
  }
  if (transaction_row) state.transaction_rows.push_back(std::prev(cursor->statements.end()));
}

void AttachTransaction(GroupState& state, std::string_view key) {
  StatementStore& store = state.store;
  store.cursor() = store.Find(kOthersKey);
  if (store.cursor().at_end() || state.transaction_rows.empty()) return;
  StatementList& others = store.cursor()->statements;
  StatementList::iterator row = state.transaction_rows.back();
  state.transaction_rows.pop_back();

  // The row leaves "others_-2" even when the identity is not there to take it.
  StoreCursor target = store.Find(key);
  if (target.at_end()) {
    others.erase(row);
  } else {
    target->statements.splice(target->statements.begin(), others, row);
  }
}

bool EntryStartsWithAuthentication(GroupState& state, std::string_view key) {
  StoreCursor entry = state.store.Find(key);
  return !entry.at_end() && !entry->statements.empty() &&
         entry->statements.front().Has(Statement::kAuthentications);
}

void AttachAuthentication(GroupState& state, Diagnostics& diag, StoreEntry& target) {
  StoreCursor authentications = state.store.Find(kAuthenticationsKey);
  if (authentications.at_end()) return;
  StatementList& rows = authentications->statements;
  if (rows.empty()) {
    diag.out() << "[ParseFileList] Warning : Authentication entry missing for a tbl_group record "
                  "insertion."
               << std::endl
               << "There might be errors while executing the output logs." << std::endl;
    diag.log("[ParseFileList] Warning : Authentication entry missing for a tbl_group record "
             "insertion.\nThere might be errors while executing the output logs.");
    return;
  }
  // Splicing moves the row itself: no copy, and the source list loses it.
  target.statements.splice(target.statements.begin(), rows, std::prev(rows.end()));
}

}  // namespace tavrin

#pragma once
// The rows of an audit log, in the style the server writes them: one
// statement per line, SQL*Plus substitution references (&identity_N) to the
// identities declared with COLUMN ... NEW_VALUE.

#include <cstdint>
#include <string>
#include <string_view>

#include "batchgen/random.h"

namespace batchgen {

class RowMaker {
 public:
  explicit RowMaker(Random& random) : random_(random) {}

  // Rows that carry a free-text field take `length`: when it is above the
  // row's natural length, the text is padded so the row has exactly that many
  // bytes (line end not counted). 0 leaves the natural length.

  /// Opens a transaction; names no identity.
  std::string Transaction();
  /// Opens a transaction whose parent is the earlier identity `parent`.
  std::string ChildTransaction(std::uint64_t parent);
  /// `COLUMN identity_N NEW_VALUE identity_N NOPRINT`.
  std::string Declaration(std::uint64_t id);
  /// Fetches the transaction number into identity_N.
  std::string CurrentValue(std::uint64_t id);
  /// Fetches the next transaction number into identity_N.
  std::string NextValue(std::uint64_t id);
  /// An action of identity `id`, referenced as &identity_N.
  std::string Action(std::uint64_t id, std::size_t length = 0);
  /// An action whose reference is the last value, quoted: '&identity_N'.
  std::string QuotedAction(std::uint64_t id, std::size_t length = 0);
  /// A login action that names its identity twice, the second time quoted,
  /// before another quoted value.
  std::string QuotedLogin(std::uint64_t id);
  /// A detail row of identity `id`.
  std::string Detail(std::uint64_t id);
  /// A detail row of the session's current transaction; names no identity.
  std::string CurrentDetail();
  /// An action that ties `id` to the earlier identity `other`.
  std::string Tie(std::uint64_t id, std::uint64_t other);
  /// An authentication that names its identity.
  std::string Authentication(std::uint64_t id);
  /// An authentication that names no identity; a group row claims it.
  std::string AnonymousAuthentication();
  /// A group membership of identity `id`.
  std::string GroupRow(std::uint64_t id);
  /// An action whose last value is NULL, which the converter rejects.
  std::string RejectedAction(std::uint64_t id);
  /// A row that belongs to no identity.
  std::string Plain(std::size_t length = 0);

  // Rows of the database checks' shapes only.

  /// A transaction row of kind `kind` ("UPD" or "NEW").
  std::string KindTransaction(std::string_view kind);
  /// A row that names no identity but changes rows of identities read before it.
  std::string TouchingPlain();
  /// A detail row of identity `id` whose text holds references: to `id`, and
  /// in some forms to `other`, an identity declared no later than `id`.
  std::string TextReferenceDetail(std::uint64_t id, std::uint64_t other);
  /// A detail row of identity `id` that holds `&identity_N.` outside a text.
  std::string TerminatedReferenceDetail(std::uint64_t id);
  /// A detail row whose `&identity_N.` is followed by a digit outside a
  /// text: the client would join the two, so the converter skips it.
  std::string JoinedReferenceDetail(std::uint64_t id);

  /// A row of no identity that can commit part of its script, or one that
  /// only looks as if it could: COMMIT, ROLLBACK, EXECUTE IMMEDIATE and
  /// DBMS_SQL after a comment or a statement, in a nested block, in texts
  /// and q-texts, and words that merely hold COMMIT.
  std::string CommitRow();

  /// The tables and sequences of every row above, as SQL for a test
  /// database: each sequence starts at its own multiple of 10^12, plus 1, and
  /// the rows that the UPDATEs above expect are inserted.
  static std::string Schema();

 private:
  std::string Stamp();
  std::string User();
  std::string Node();
  /// prefix + text + suffix, the text padded to reach `length` bytes in all.
  std::string WithText(std::string_view prefix, std::string_view suffix, std::size_t length);

  Random& random_;
  std::uint64_t seconds_ = 0;  // since the batch's first row
};

}  // namespace batchgen

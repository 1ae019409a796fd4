#pragma once
// The batches the benchmark times: a realistic one, and adversarial ones of
// the same size that each push one part of the converter to its limit.

#include <cstdint>
#include <string>
#include <string_view>

#include "batchgen/batch_writer.h"
#include "batchgen/random.h"

namespace batchgen {

enum class Shape {
  kRealistic,           // thousands of groups of a few files, mixed rows
  kManyGroups,          // 10,000 one-file groups
  kMergeChain,          // one group: identity_k ties to identity_k-1, 100,000 times
  kNoTransactions,      // one group: 1,000,000 declarations, no transaction row
  kBigIdentity,         // one group: one identity with 2,000,000 statements
  kTransactionBacklog,  // one group: all transaction rows first, far from their declarations
  kWeb,                 // one group: actions tie each identity to any earlier one
  kWellFormed,          // groups as a server writes them: every reference names an earlier identity
  kTextReferences,      // well-formed, and one detail row in ten holds references inside its text
  kPlainUpdates,        // well-formed, and plain rows that change rows of earlier identities
  kCommits,             // well-formed, and plain rows that can commit, or only look so
};

/// Finds a shape by its command-line name.
bool ShapeByName(std::string_view name, Shape* shape);

/// The command-line names, one per line with what each holds.
std::string ShapeHelp();

/// Writes a batch of `shape` of about `size` bytes. The counts in the shape
/// descriptions hold for 200,000,000 bytes and scale with `size`. Returns the
/// number of identities declared.
std::uint64_t Generate(Shape shape, std::uint64_t size, Random& random, BatchWriter& out);

}  // namespace batchgen

#include "batchgen/shapes.h"

#include <algorithm>
#include <array>

#include "batchgen/rows.h"

namespace batchgen {
namespace {

struct ShapeName {
  Shape shape;
  std::string_view name;
  std::string_view help;
};

constexpr std::array<ShapeName, 11> kShapes = {{
    {Shape::kRealistic, "realistic",
     "groups of 1-5 files (some of 10-20), identities with transaction, authentication, group "
     "and action rows, some actions tying two identities, plain rows"},
    {Shape::kManyGroups, "many-groups", "10,000 one-file groups"},
    {Shape::kMergeChain, "merge-chain",
     "one group; identity_k ties itself to identity_k-1, 100,000 identities"},
    {Shape::kNoTransactions, "no-transactions",
     "one group; 1,000,000 declarations, each after a plain row, no transaction row"},
    {Shape::kBigIdentity, "big-identity", "one group; one identity with 2,000,000 statements"},
    {Shape::kTransactionBacklog, "txn-backlog",
     "one group; identity_1, then 500,000 transaction rows, as many plain rows, and then "
     "their declarations"},
    {Shape::kWeb, "web",
     "one group; each identity's transaction, COLUMN/SELECT pair and detail row, then 0-2 "
     "actions, each naming it alone or, at even odds, it and any earlier identity"},
    {Shape::kWellFormed, "well-formed",
     "groups of 1-12 identities over 1-3 files, each identity declared after its transaction "
     "row and read by its SELECT, then rows that name only it or earlier identities of the "
     "group; no garbage lines (not one of the benchmark's shapes)"},
    {Shape::kTextReferences, "text-references",
     "well-formed, and one detail row in ten holds references inside its text, several, next "
     "to '' or as &&identity_N; a few hold &identity_N. outside a text (not one of the "
     "benchmark's shapes)"},
    {Shape::kPlainUpdates, "plain-updates",
     "well-formed with transaction kinds, and after about one identity in seven a plain row "
     "that updates rows of the identities before it (not one of the benchmark's shapes)"},
    {Shape::kCommits, "commits",
     "well-formed, and after about one identity in ten a plain row with COMMIT, ROLLBACK, "
     "EXECUTE IMMEDIATE or DBMS_SQL, or one that only looks so: in texts, q-texts, other "
     "words (not one of the benchmark's shapes)"},
}};

// The size at which the counts above hold.
constexpr std::uint64_t kReferenceSize = 200'000'000;
// Single-group batches are cut into files of about this size.
constexpr std::uint64_t kSingleGroupFileBytes = 4'000'000;

std::uint64_t Scaled(std::uint64_t count, std::uint64_t size) {
  return std::max<std::uint64_t>(1, count * size / kReferenceSize);
}

// What is left of `size` shared out evenly over `left` more units.
std::uint64_t Share(std::uint64_t size, std::uint64_t written, std::uint64_t left) {
  return written >= size ? 0 : (size - written) / std::max<std::uint64_t>(1, left);
}

// Starts the next file of a single-group batch once the current one is full.
void RollOver(BatchWriter& out) {
  if (out.file_bytes() >= kSingleGroupFileBytes) out.NewFile(false);
}

// One identity's rows as a production log holds them.
void RealisticIdentity(RowMaker& rows, Random& random, BatchWriter& out, std::uint64_t id) {
  if (random.Chance(300)) out.Line(rows.Plain());
  out.Line(rows.Transaction());
  out.Line(rows.Declaration(id));
  out.Line(rows.CurrentValue(id));
  if (random.Chance(300)) out.Line(rows.Authentication(id));
  const std::uint64_t actions = random.Between(1, 10);
  for (std::uint64_t i = 0; i < actions; ++i) {
    out.Line(random.Chance(100) ? rows.QuotedAction(id) : rows.Action(id));
    if (random.Chance(50)) out.Line(rows.Plain());
  }
  // Ties go to a recent identity of the same group.
  if (id > 1 && random.Chance(60))
    out.Line(rows.Tie(id, random.Between(id > 200 ? id - 200 : 1, id - 1)));
  if (random.Chance(150)) {
    out.Line(rows.AnonymousAuthentication());
    out.Line(rows.GroupRow(id));
    if (random.Chance(300)) out.Line(rows.GroupRow(id));
  }
  if (random.Chance(3)) out.Line(rows.RejectedAction(id));
}

std::uint64_t Realistic(std::uint64_t size, Random& random, BatchWriter& out) {
  RowMaker rows(random);
  std::uint64_t identities = 0;
  while (out.total_bytes() < size) {
    const bool big = random.Chance(20);
    const std::uint64_t files = big ? random.Between(10, 20) : random.Between(1, 5);
    std::uint64_t id = 0;
    for (std::uint64_t f = 0; f < files && out.total_bytes() < size; ++f) {
      out.NewFile(f == 0);
      const std::uint64_t target =
          big ? random.Between(40'000, 200'000) : random.Between(4'000, 40'000);
      while (out.file_bytes() < target && out.total_bytes() < size)
        RealisticIdentity(rows, random, out, ++id);
    }
    identities += id;
  }
  return identities;
}

std::uint64_t ManyGroups(std::uint64_t size, Random& random, BatchWriter& out) {
  RowMaker rows(random);
  const std::uint64_t groups = Scaled(10'000, size);
  std::uint64_t identities = 0;
  for (std::uint64_t g = 0; g < groups; ++g) {
    out.NewFile(true);
    const std::uint64_t target = Share(size, out.total_bytes(), groups - g);
    std::uint64_t id = 0;
    // Every group declares at least identity_1, or it would join the one before.
    do {
      RealisticIdentity(rows, random, out, ++id);
    } while (out.file_bytes() < target);
    identities += id;
  }
  return identities;
}

std::uint64_t MergeChain(std::uint64_t size, Random& random, BatchWriter& out) {
  RowMaker rows(random);
  const std::uint64_t chain = Scaled(100'000, size);
  for (std::uint64_t id = 1; id <= chain; ++id) {
    RollOver(out);
    const std::uint64_t start = out.total_bytes();
    const std::uint64_t target = Share(size, start, chain - id + 1);
    out.Line(rows.Transaction());
    out.Line(rows.Declaration(id));
    out.Line(rows.CurrentValue(id));
    // Merging walks the keys upwards, so identity_k takes in identity_k-1
    // after that one took in everything below it: each merge moves a longer list.
    if (id > 1) out.Line(rows.Tie(id, id - 1));
    while (out.total_bytes() - start < target) out.Line(rows.Action(id));
  }
  return chain;
}

std::uint64_t NoTransactions(std::uint64_t size, Random& random, BatchWriter& out) {
  RowMaker rows(random);
  const std::uint64_t count = Scaled(1'000'000, size);
  for (std::uint64_t id = 1; id <= count; ++id) {
    RollOver(out);
    const std::string declaration = rows.Declaration(id);
    const std::string current = rows.CurrentValue(id);
    const std::uint64_t target = Share(size, out.total_bytes(), count - id + 1);
    // Three line ends of at most two bytes each.
    const std::uint64_t fixed = declaration.size() + current.size() + 6;
    out.Line(rows.Plain(target > fixed ? target - fixed : 0));
    out.Line(declaration);
    out.Line(current);
  }
  return count;
}

std::uint64_t BigIdentity(std::uint64_t size, Random& random, BatchWriter& out) {
  RowMaker rows(random);
  const std::uint64_t statements = std::max<std::uint64_t>(4, Scaled(2'000'000, size));
  out.Line(rows.Transaction());
  out.Line(rows.Declaration(1));
  out.Line(rows.CurrentValue(1));
  for (std::uint64_t i = 3; i < statements; ++i) {
    RollOver(out);
    const std::uint64_t target = Share(size, out.total_bytes(), statements - i);
    const std::size_t length = target > 2 ? target - 2 : 0;
    out.Line(random.Chance(10) ? rows.QuotedAction(1, length) : rows.Action(1, length));
  }
  return 1;
}

std::uint64_t TransactionBacklog(std::uint64_t size, Random& random, BatchWriter& out) {
  RowMaker rows(random);
  const std::uint64_t count = std::max<std::uint64_t>(2, Scaled(500'000, size));
  // identity_1 comes first and in order, so the first file opens the group;
  // files before the first declaration of identity_1 would form group 0.
  out.Line(rows.Transaction());
  out.Line(rows.Declaration(1));
  out.Line(rows.CurrentValue(1));
  for (std::uint64_t id = 2; id <= count; ++id) {
    RollOver(out);
    out.Line(rows.Transaction());
  }
  // The plain rows take what the declarations leave of the size.
  std::uint64_t declarations = 0;
  for (std::uint64_t id = 2; id <= count; ++id)
    declarations += rows.Declaration(id).size() + rows.CurrentValue(id).size() + 4;  // CR LF
  const std::uint64_t plain_size = size > declarations ? size - declarations : 0;
  for (std::uint64_t i = 1; i < count; ++i) {
    RollOver(out);
    const std::uint64_t target = Share(plain_size, out.total_bytes(), count - i);
    out.Line(rows.Plain(target > 2 ? target - 2 : 0));
  }
  // Each declaration takes the latest transaction row still waiting, which
  // lies behind all the plain rows.
  for (std::uint64_t id = 2; id <= count; ++id) {
    RollOver(out);
    out.Line(rows.Declaration(id));
    out.Line(rows.CurrentValue(id));
  }
  return count;
}

// References that form a web: each tie reaches back to any earlier identity,
// so the blocks the join to closure builds absorb each other in every order.
// As many identities as fill `size`.
std::uint64_t Web(std::uint64_t size, Random& random, BatchWriter& out) {
  RowMaker rows(random);
  std::uint64_t id = 0;
  while (out.total_bytes() < size) {
    RollOver(out);
    ++id;
    out.Line(rows.Transaction());
    out.Line(rows.Declaration(id));
    out.Line(rows.CurrentValue(id));
    out.Line(rows.Detail(id));
    const std::uint64_t actions = random.Between(0, 2);
    for (std::uint64_t i = 0; i < actions; ++i) {
      // Identity 1 has no earlier identity to name.
      const bool tie = random.Between(0, 1) == 1;
      out.Line(tie && id > 1 ? rows.Tie(id, random.Between(1, id - 1)) : rows.Action(id));
    }
  }
  return id;
}

// What a well-formed group holds besides its usual rows.
enum class Extras { kNone, kTextReferences, kPlainUpdates, kCommits };

// One identity of a well-formed group and the rows that follow it. A row
// names identity `id` or an earlier one of the group, never a later one.
// Without extras, the random numbers drawn are those of the well-formed shape.
void WellFormedIdentity(RowMaker& rows, Random& random, BatchWriter& out, std::uint64_t id,
                        Extras extras) {
  const auto earlier = [&] { return random.Between(1, id - 1); };
  if (random.Chance(150)) out.Line(rows.Plain());
  if (extras == Extras::kPlainUpdates)
    out.Line(rows.KindTransaction(random.Chance(500) ? "UPD" : "NEW"));
  else
    out.Line(id > 1 && random.Chance(250) ? rows.ChildTransaction(earlier()) : rows.Transaction());
  out.Line(rows.Declaration(id));
  out.Line(random.Chance(200) ? rows.NextValue(id) : rows.CurrentValue(id));
  const std::uint64_t uses = random.Between(1, 8);
  for (std::uint64_t i = 0; i < uses; ++i) {
    const std::uint64_t named = id > 1 && random.Chance(200) ? earlier() : id;
    switch (random.Between(0, 9)) {
      case 0: out.Line(rows.Action(named)); break;
      case 1: out.Line(rows.QuotedAction(named)); break;
      case 2: out.Line(rows.QuotedLogin(named)); break;
      case 3:
        if (extras == Extras::kTextReferences && random.Chance(100))
          out.Line(rows.TextReferenceDetail(id, id > 1 ? earlier() : id));
        else
          out.Line(rows.Detail(named));
        break;
      case 4:
        if (id == 1) {
          out.Line(rows.Detail(id));
        } else {
          const std::uint64_t other = earlier();
          out.Line(random.Chance(500) ? rows.Tie(id, other) : rows.Tie(other, id));
        }
        break;
      case 5: out.Line(rows.Authentication(named)); break;
      case 6: out.Line(rows.AnonymousAuthentication()); break;
      case 7:  // a login, then the group record that claims it
        out.Line(rows.AnonymousAuthentication());
        out.Line(rows.GroupRow(named));
        break;
      case 8: out.Line(rows.CurrentDetail()); break;
      default: out.Line(rows.Plain()); break;
    }
  }
  if (extras == Extras::kTextReferences && random.Chance(100))
    out.Line(random.Chance(300) ? rows.JoinedReferenceDetail(id)
                                : rows.TerminatedReferenceDetail(id));
  if (extras == Extras::kPlainUpdates && random.Chance(143)) out.Line(rows.TouchingPlain());
  if (extras == Extras::kCommits && random.Chance(100)) out.Line(rows.CommitRow());
}

std::uint64_t WellFormed(std::uint64_t size, Random& random, BatchWriter& out, Extras extras) {
  RowMaker rows(random);
  std::uint64_t identities = 0;
  while (out.total_bytes() < size) {
    const std::uint64_t count = random.Between(1, 12);
    // The group's files split it between identities, so that each later
    // file's first declaration is not identity_1 and the file stays in the group.
    const std::uint64_t files = random.Between(1, std::min<std::uint64_t>(3, count));
    std::uint64_t next_split = 1;
    std::uint64_t file = 0;
    for (std::uint64_t id = 1; id <= count; ++id) {
      if (id == next_split) {
        out.NewFile(id == 1);
        ++file;
        next_split = 1 + file * count / files;
      }
      WellFormedIdentity(rows, random, out, id, extras);
    }
    identities += count;
  }
  return identities;
}

}  // namespace

bool ShapeByName(std::string_view name, Shape* shape) {
  for (const ShapeName& entry : kShapes) {
    if (entry.name == name) {
      *shape = entry.shape;
      return true;
    }
  }
  return false;
}

std::string ShapeHelp() {
  std::string help;
  for (const ShapeName& entry : kShapes) {
    help += "  ";
    help += entry.name;
    help += ": ";
    help += entry.help;
    help += '\n';
  }
  return help;
}

std::uint64_t Generate(Shape shape, std::uint64_t size, Random& random, BatchWriter& out) {
  switch (shape) {
    case Shape::kRealistic: return Realistic(size, random, out);
    case Shape::kManyGroups: return ManyGroups(size, random, out);
    case Shape::kMergeChain: return MergeChain(size, random, out);
    case Shape::kNoTransactions: return NoTransactions(size, random, out);
    case Shape::kBigIdentity: return BigIdentity(size, random, out);
    case Shape::kTransactionBacklog: return TransactionBacklog(size, random, out);
    case Shape::kWellFormed: return WellFormed(size, random, out, Extras::kNone);
    case Shape::kTextReferences: return WellFormed(size, random, out, Extras::kTextReferences);
    case Shape::kPlainUpdates: return WellFormed(size, random, out, Extras::kPlainUpdates);
    case Shape::kCommits: return WellFormed(size, random, out, Extras::kCommits);
    case Shape::kWeb: return Web(size, random, out);
  }
  return 0;
}

}  // namespace batchgen

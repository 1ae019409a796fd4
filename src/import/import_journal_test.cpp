// The import journal on a scratch directory, with the clock pinned.

#include "import/import_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unordered_set>

#include "platform/path.h"
#include "support/env_wrapper.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kA(64, 'a');
const std::string kB(64, 'b');
const std::string kC(64, 'c');

// A pinned clock; counts syncs and can refuse them.
class JournalEnv : public test::EnvWrapper {
 public:
  JournalEnv() : EnvWrapper(Env::Default()) {}
  DateTime UtcNow() override { return {2026, 1, 2, 3, 4, 5}; }
  std::unique_ptr<OutputFile> OpenForAppending(const std::string& path) override {
    return sync.Wrap(EnvWrapper::OpenForAppending(path));
  }
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override {
    return sync.Wrap(EnvWrapper::CreateOutput(path));
  }
  test::SyncCounter sync;
};

class ImportJournalTest : public ::testing::Test {
 protected:
  std::string Path() const { return JoinPath(dir_.path().string(), kImportJournalName); }
  std::string Text() const { return ReadFile(Path()); }

  TempDir dir_;
  JournalEnv env_;
};

TEST_F(ImportJournalTest, LastLineOfEachHashCountsAndUnreadableLinesAreIgnored) {
  // An editor's byte-order mark before the first line.
  WriteFile(Path(), "\xEF\xBB\xBF" + kA + " started 2026-01-01T10:00:00Z Output1.tvr\n" +
                        kA + " ended 2026-01-01T10:00:07Z Output1.tvr\n" +
                        kB + " started 2026-01-01T10:00:08Z Output 2.tvr\r\n" +
                        std::string(64, 'A') + " ended 2026-01-01T10:00:09Z upper.tvr\n" +
                        kC + " done 2026-01-01T10:00:09Z state.tvr\n" +
                        kC + " ended 2026-01-01 10:00:09 time.tvr\n" +
                        kC + " ended 2026-01-01T10:00:09Z\n" +  // no name
                        "\n" + kC + " ended 2026-01-01T10:0");  // torn by a crash
  ImportJournal journal(env_, Path());
  ASSERT_TRUE(journal.Open());
  EXPECT_EQ(journal.unreadable_lines(), 6);
  ASSERT_NE(journal.Find(kA), nullptr);
  EXPECT_EQ(journal.Find(kA)->state, JournalState::kEnded);
  EXPECT_EQ(journal.Find(kA)->time, "2026-01-01T10:00:07Z");
  ASSERT_NE(journal.Find(kB), nullptr);
  EXPECT_EQ(journal.Find(kB)->state, JournalState::kStarted);
  EXPECT_EQ(journal.Find(kC), nullptr);

  // The torn line is removed first, so no line end ever completes it.
  const std::string before = Text().substr(0, Text().rfind('\n') + 1);
  ASSERT_TRUE(journal.Record(kC, JournalState::kStarted, "Output3.tvr", true));
  EXPECT_EQ(Text(), before + kC + " started 2026-01-02T03:04:05Z Output3.tvr\n");
  EXPECT_TRUE(journal.Close());

  ImportJournal again(env_, Path());
  ASSERT_TRUE(again.Open());
  EXPECT_EQ(again.unreadable_lines(), 5);
  ASSERT_NE(again.Find(kC), nullptr);
  EXPECT_EQ(again.Find(kC)->state, JournalState::kStarted);
}

TEST_F(ImportJournalTest, ALastLineWithoutItsLineEndIsUsedWhenItReadsAndRemovedWhenNot) {
  const std::string first = kA + " started 2026-01-01T10:00:07Z O1.tvr\n";
  const std::string second = kB + " started 2026-01-01T10:00:08Z O2.tvr";
  const std::string next = kC + " moved 2026-01-02T03:04:05Z O3.tvr\n";
  // Cut short in its name, it reads; in its time, it does not: before the
  // backup's moved lines as before the import's.
  for (const std::size_t cut : {96, 80}) {
    WriteFile(Path(), first + second.substr(0, cut));
    ImportJournal journal(env_, Path());
    ASSERT_TRUE(journal.OpenExisting());
    EXPECT_EQ(journal.imports().size(), cut == 96 ? 2u : 1u);
    ASSERT_TRUE(journal.Record(kC, JournalState::kMoved, "O3.tvr", false));
    ASSERT_TRUE(journal.Close());
    EXPECT_EQ(Text(), first + (cut == 96 ? second.substr(0, cut) + "\n" : "") + next);
  }
}

TEST_F(ImportJournalTest, StartedLinesAreSyncedTheOthersAtTheEnd) {
  ImportJournal journal(env_, Path());
  ASSERT_TRUE(journal.Open());  // made when missing
  EXPECT_EQ(Text(), "");
  ASSERT_TRUE(journal.Record(kA, JournalState::kStarted, "Output1.tvr", true));
  EXPECT_EQ(env_.sync.syncs, 1);
  ASSERT_TRUE(journal.Record(kA, JournalState::kEnded, "Output1.tvr", false));
  EXPECT_EQ(env_.sync.syncs, 1);
  // Written at once all the same, for a run killed before the end.
  EXPECT_EQ(Text(), kA + " started 2026-01-02T03:04:05Z Output1.tvr\n" + kA +
                        " ended 2026-01-02T03:04:05Z Output1.tvr\n");
  EXPECT_EQ(journal.Find(kA)->state, JournalState::kEnded);
  EXPECT_TRUE(journal.Close());
  EXPECT_EQ(env_.sync.syncs, 2);
}

TEST_F(ImportJournalTest, AFailedWriteLeavesTheJournalUnusableForTheRun) {
  ImportJournal journal(env_, Path());
  ASSERT_TRUE(journal.Open());
  env_.sync.refuse_all = true;
  EXPECT_FALSE(journal.Record(kA, JournalState::kStarted, "Output1.tvr", true));
  EXPECT_EQ(journal.failure(), env_.ErrorText(5));
  env_.sync.refuse_all = false;
  EXPECT_FALSE(journal.Record(kB, JournalState::kStarted, "Output2.tvr", true));
  EXPECT_FALSE(journal.Close());

  // A journal that cannot be made at all.
  std::filesystem::create_directory(dir_.path() / "taken");
  ImportJournal directory(env_, (dir_.path() / "taken").string());
  EXPECT_FALSE(directory.Open());
  EXPECT_FALSE(directory.failure().empty());
}

TEST_F(ImportJournalTest, WithdrawTakesBackTheLastLine) {
  WriteFile(Path(), kA + " ended 2026-01-01T10:00:07Z Output1.tvr\n");
  ImportJournal journal(env_, Path());
  ASSERT_TRUE(journal.Open());
  ASSERT_TRUE(journal.Record(kA, JournalState::kStarted, "Output1.tvr", true));
  ASSERT_TRUE(journal.Record(kB, JournalState::kStarted, "Output2.tvr", true));
  ASSERT_TRUE(journal.Withdraw());
  EXPECT_EQ(journal.Find(kB), nullptr);
  ASSERT_TRUE(journal.Withdraw());
  EXPECT_EQ(journal.Find(kA)->state, JournalState::kEnded);
  EXPECT_EQ(Text(), kA + " ended 2026-01-01T10:00:07Z Output1.tvr\n");
  // Still usable afterwards.
  ASSERT_TRUE(journal.Record(kC, JournalState::kStarted, "Output3.tvr", true));
  EXPECT_TRUE(journal.Close());
  EXPECT_EQ(Text(), kA + " ended 2026-01-01T10:00:07Z Output1.tvr\n" + kC +
                        " started 2026-01-02T03:04:05Z Output3.tvr\n");
}

TEST_F(ImportJournalTest, DropMovedLeavesOnlyWhatStillWaits) {
  WriteFile(Path(), kA + " started 2026-01-01T10:00:00Z Output1.tvr\n" +
                        kB + " started 2026-01-01T10:00:01Z Output2.tvr\n" +
                        kA + " ended 2026-01-01T10:00:02Z Output1.tvr\n" +
                        kC + " moved 2026-01-01T10:00:03Z Output3.tvr\n" +
                        kC + " started 2026-01-01T10:00:04Z Copy.tvr\n" +  // came again
                        "junk\n");
  ImportJournal journal(env_, Path());
  ASSERT_TRUE(journal.OpenExisting());
  ASSERT_TRUE(journal.Record(kA, JournalState::kMoved, "Output1.tvr", false));
  ASSERT_TRUE(journal.DropMoved());
  EXPECT_EQ(Text(), kB + " started 2026-01-01T10:00:01Z Output2.tvr\n" +
                        kC + " moved 2026-01-01T10:00:03Z Output3.tvr\n" +
                        kC + " started 2026-01-01T10:00:04Z Copy.tvr\n");
  EXPECT_EQ(journal.Find(kA), nullptr);

  ImportJournal second(env_, Path());
  ASSERT_TRUE(second.OpenExisting());
  ASSERT_TRUE(second.Record(kB, JournalState::kMoved, "Output2.tvr", false));
  ASSERT_TRUE(second.Record(kC, JournalState::kMoved, "Copy.tvr", false));
  ASSERT_TRUE(second.DropMoved());
  EXPECT_EQ(Text(), "");
  // Only the journal is left: no temporary file beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(ImportJournalTest, CopiesOfOneHashAreImportsOfTheirOwnByTagOrOrder) {
  const std::string t1 = "0123456789abcdef", t2 = "fedcba9876543210";
  WriteFile(Path(), kA + " started 2026-01-01T10:00:00Z group=" + t1 + " Output1.tvr\n" +
                        kA + " started 2026-01-01T10:00:01Z group=" + t2 + " Output2.tvr\n" +
                        kA + " ended 2026-01-01T10:00:02Z group=" + t1 + " Output1.tvr\n" +
                        kA + " started 2026-01-01T10:00:03Z Output1.tvr\n" +
                        kA + " moved 2026-01-01T10:00:04Z group=" + t2 + " Output2.tvr\n" +
                        kA + " started 2026-01-01T10:00:05Z group=" + t2 + " Output2.tvr\n");
  ImportJournal journal(env_, Path());
  ASSERT_TRUE(journal.Open());
  EXPECT_EQ(journal.unreadable_lines(), 0);
  ASSERT_EQ(journal.imports().size(), 4u);
  // The ended line closes its own tag's import; the moved line the one before it.
  EXPECT_EQ(journal.imports()[0].ended, "2026-01-01T10:00:02Z");
  EXPECT_TRUE(journal.imports()[1].moved);
  EXPECT_FALSE(journal.imports()[3].moved);

  CopyMatcher copies(journal);
  EXPECT_EQ(copies.Match(kA, t1).kind, CopyMatch::kEnded);
  EXPECT_EQ(copies.Match(kA, t2).kind, CopyMatch::kCutShort);  // the latest, not the moved one
  EXPECT_EQ(copies.Match(kB, t1).kind, CopyMatch::kOtherBytes);
  // A new tag takes the untagged imports by order, the second one none.
  EXPECT_EQ(copies.Match(kA, "1111111111111111").kind, CopyMatch::kCutShort);
  EXPECT_EQ(copies.Match(kA, "2222222222222222").kind, CopyMatch::kNone);
  // Without a tag, the k-th copy takes the k-th import left, whatever its tag.
  CopyMatcher untagged(journal);
  EXPECT_EQ(untagged.Match(kA, "").kind, CopyMatch::kEnded);
  EXPECT_EQ(untagged.Match(kA, "").kind, CopyMatch::kCutShort);

  ASSERT_TRUE(journal.Record(kA, JournalState::kMoved, "Output1.tvr", false, t1));
  ASSERT_TRUE(journal.Record(kA, JournalState::kMoved, "Copy.tvr", false));  // the first left
  ASSERT_TRUE(journal.DropMoved());
  EXPECT_EQ(Text(), kA + " started 2026-01-01T10:00:05Z group=" + t2 + " Output2.tvr\n");
}

TEST_F(ImportJournalTest, IdsCloseTheirOwnImportAndUndoneImportsMatchNothing) {
  const std::string t1 = "0123456789abcdef";
  const std::string i1(32, '1'), i2(32, '2'), i3(32, '3');
  // Two cut-short history imports of one copy's hash and tag, and a plain one.
  WriteFile(Path(), kA + " started 2026-01-01T10:00:00Z group=" + t1 + " id=" + i1 + " O1.tvr\n" +
                        kA + " started 2026-01-01T10:00:01Z group=" + t1 + " id=" + i2 + " O1.tvr\n" +
                        kB + " started 2026-01-01T10:00:02Z id=" + i3 + " O2.tvr\n" +
                        kB + " undone 2026-01-01T10:00:03Z O2.tvr\n");  // no id: closes none
  ImportJournal journal(env_, Path());
  ASSERT_TRUE(journal.Open());
  EXPECT_EQ(journal.unreadable_lines(), 0);
  EXPECT_FALSE(journal.imports()[2].undone);
  ASSERT_EQ(journal.imports().size(), 3u);
  EXPECT_EQ(journal.imports()[1].id, i2);
  EXPECT_EQ(journal.imports()[1].tag, t1);

  // The latest import is undone, by its id; the older one ends, by its id.
  ASSERT_TRUE(journal.Record(kA, JournalState::kUndone, "O1.tvr", true, t1, i2));
  ASSERT_TRUE(journal.Record(kA, JournalState::kEnded, "O1.tvr", false, t1, i1));
  ASSERT_TRUE(journal.Record(kB, JournalState::kEnded, "O2.tvr", false));  // names no id-less import
  EXPECT_TRUE(journal.imports()[1].undone);
  EXPECT_EQ(journal.imports()[0].ended, "2026-01-02T03:04:05Z");
  EXPECT_TRUE(journal.imports()[2].ended.empty());
  EXPECT_EQ(Text().substr(Text().rfind(kA + " undone")),
            kA + " undone 2026-01-02T03:04:05Z group=" + t1 + " id=" + i2 + " O1.tvr\n" +
                kA + " ended 2026-01-02T03:04:05Z group=" + t1 + " id=" + i1 + " O1.tvr\n" +
                kB + " ended 2026-01-02T03:04:05Z O2.tvr\n");

  CopyMatcher copies(journal);
  const CopyMatch first = copies.Match(kA, t1);  // the undone one is passed over
  EXPECT_EQ(first.kind, CopyMatch::kEnded);
  EXPECT_EQ(first.id, i1);
  const CopyMatch plain = CopyMatcher(journal).Match(kB, "");
  EXPECT_EQ(plain.kind, CopyMatch::kCutShort);
  EXPECT_EQ(plain.id, i3);

  // A moved line moves the ended import; the undone one goes with any rewrite.
  ASSERT_TRUE(journal.Record(kA, JournalState::kMoved, "O1.tvr", false, t1));
  ASSERT_TRUE(journal.DropMoved());
  EXPECT_EQ(Text(), kB + " started 2026-01-01T10:00:02Z id=" + i3 + " O2.tvr\n" +
                        kB + " undone 2026-01-01T10:00:03Z O2.tvr\n" +
                        kB + " ended 2026-01-02T03:04:05Z O2.tvr\n");
}

// An undone line without an id closes the latest open import of its hash
// and tag that has none. A held-back import outlives every rewrite until a
// later import of its hash and tag, or a moved line of its tag, lets it go; a
// compaction given the groups found also drops one whose group is gone.
TEST_F(ImportJournalTest, RewritesKeepHeldBackImportsAndDropOtherUndoneOnes) {
  const std::string g1 = "group=1111111111111111 ", g4 = "group=4444444444444444 ";
  const auto line = [](const std::string& hash, const char* state, const std::string& fields) {
    return hash + " " + state + " 2026-01-01T10:00:00Z " + fields + "O.tvr\n";
  };
  const std::string held = line(kA, "started", g1) + line(kA, "undone", g1);
  const std::string gone = line(kB, "started", g4) + line(kB, "undone", g4);
  const std::string untagged = line(kC, "started", "") + line(kC, "undone", "");
  const std::string with_id = line(kA, "started", g1 + "id=" + std::string(32, '7') + " ");
  const std::unordered_set<std::string> found = {"1111111111111111"};
  const struct {
    std::string before;
    const std::unordered_set<std::string>* groups;  // a compaction's groups found
    std::string after;
  } cases[] = {
      {held + untagged, nullptr, held + untagged},
      // The undone line passes over the import with an id, which comes later.
      {line(kA, "started", g1) + with_id + line(kA, "undone", g1), nullptr, with_id},
      {held + line(kB, "moved", g1), nullptr, ""},  // its tag, whatever the hash
      {untagged + line(kC, "moved", ""), nullptr, ""},
      {held + gone + untagged, &found, held},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    WriteFile(Path(), c.before);
    ImportJournal journal(env_, Path());
    ASSERT_TRUE(journal.OpenExisting());
    EXPECT_EQ(journal.unreadable_lines(), 0);
    ASSERT_TRUE(journal.DropMoved(c.groups));
    EXPECT_EQ(Text(), c.after);
  }
}

TEST_F(ImportJournalTest, OpenExistingNeverMakesOne) {
  ImportJournal journal(env_, Path());
  EXPECT_FALSE(journal.OpenExisting());
  EXPECT_FALSE(std::filesystem::exists(Path()));
}

TEST(JournalTime, IsUtcInTheIsoShape) {
  EXPECT_EQ(JournalTime({2026, 12, 1, 9, 5, 3}), "2026-12-01T09:05:03Z");
}

}  // namespace
}  // namespace tavrin

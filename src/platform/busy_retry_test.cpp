// A rename over a file that another process holds open, as Windows refuses
// it, through a test Env: Wine renames such a file, so only an Env that
// refuses on purpose shows the retry.

#include "platform/busy_retry.h"

#include <gtest/gtest.h>

#include "support/env_wrapper.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr int kAccessDenied = 5;       // ERROR_ACCESS_DENIED
constexpr int kSharingViolation = 32;  // ERROR_SHARING_VIOLATION
constexpr int kFileNotFound = 2;       // ERROR_FILE_NOT_FOUND

// Refuses the first `refusals` renames with `error`; notes each wait instead
// of waiting.
class HeldOpen final : public test::EnvWrapper {
 public:
  HeldOpen(int refusals, int error) : EnvWrapper(Env::Default()), refusals_(refusals), error_(error) {}
  bool RenameReplacing(const std::string& from, const std::string& to) override {
    return ++tries > refusals_ ? EnvWrapper::RenameReplacing(from, to) : Fail(error_);
  }
  void SleepMilliseconds(int milliseconds) override { waited += milliseconds; }

  int tries = 0;
  int waited = 0;

 private:
  int refusals_;
  int error_;
};

TEST(BusyRetry, RenameIsTriedAgainForUpToTwoSecondsWhileTheFileIsHeld) {
  struct Case {
    int refusals, error;
    bool renamed;
    int tries, waited;
  };
  const Case cases[] = {
      {0, kSharingViolation, true, 1, 0},
      {3, kSharingViolation, true, 4, 150},
      {3, kAccessDenied, true, 4, 150},
      {40, kSharingViolation, true, 41, 2000},  // let go just in time
      {41, kSharingViolation, false, 41, 2000},
      {1000, kAccessDenied, false, 41, 2000},
      {3, kFileNotFound, false, 1, 0},  // no other process's doing: no wait
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.refusals) + " refusals of error " + std::to_string(c.error));
    TempDir dir;
    const std::string from = (dir.path() / "journal.new").string();
    const std::string to = (dir.path() / "journal").string();
    WriteFile(from, "new");
    WriteFile(to, "old");
    HeldOpen env(c.refusals, c.error);
    const bool renamed = RetryWhileBusy(
        env, [&] { return env.RenameReplacing(from, to); }, {kAccessDenied, kSharingViolation});
    EXPECT_EQ(renamed, c.renamed);
    EXPECT_EQ(env.tries, c.tries);
    EXPECT_EQ(env.waited, c.waited);
    EXPECT_EQ(ReadFile(to), c.renamed ? "new" : "old");
    if (!renamed) {
      EXPECT_EQ(env.LastError(), c.error);  // what the caller reports as the reason
    }
  }
}

}  // namespace
}  // namespace tavrin

// A rename that Windows refuses while another process holds the file, through
// a test Env: Wine allows such a rename, so only a refusal on purpose shows
// the retry.

#include "platform/busy_retry.h"

#include <gtest/gtest.h>

#include "support/env_wrapper.h"

namespace tavrin {
namespace {

// Refuses the first `refusals` renames with `error`; notes each wait instead
// of waiting.
struct HeldOpen final : test::EnvWrapper {
  HeldOpen(int refused, int with) : EnvWrapper(Env::Default()), refusals(refused), error(with) {}
  bool RenameReplacing(const std::string&, const std::string&) override {
    return ++tries > refusals || Fail(error);
  }
  void SleepMilliseconds(int milliseconds) override { waited += milliseconds; }
  int refusals, error, tries = 0, waited = 0;
};

TEST(BusyRetry, RenameIsTriedAgainForUpToTwoSecondsWhileTheFileIsHeld) {
  // ERROR_SHARING_VIOLATION (32) and ERROR_ACCESS_DENIED (5) are retried;
  // ERROR_FILE_NOT_FOUND (2) is no other process's doing.
  struct Case {
    int refusals, error;
    bool renamed;
    int tries, waited;
  };
  const Case cases[] = {
      {0, 32, true, 1, 0},      {3, 32, true, 4, 150},     {3, 5, true, 4, 150},
      {40, 32, true, 41, 2000}, {41, 32, false, 41, 2000}, {3, 2, false, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.refusals) + " refusals of error " + std::to_string(c.error));
    HeldOpen env(c.refusals, c.error);
    EXPECT_EQ(RetryWhileBusy(env, [&] { return env.RenameReplacing("journal.new", "journal"); },
                             {5, 32}),
              c.renamed);
    EXPECT_EQ(env.tries, c.tries);
    EXPECT_EQ(env.waited, c.waited);
    if (!c.renamed) {
      EXPECT_EQ(env.LastError(), c.error);  // what the caller reports as the reason
    }
  }
}

}  // namespace
}  // namespace tavrin

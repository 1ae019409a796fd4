#include "platform/busy_retry.h"

#include <algorithm>

namespace tavrin {

bool RetryWhileBusy(Env& env, const std::function<bool()>& attempt,
                    std::initializer_list<int> busy_errors) {
  int waited = 0;
  for (;;) {
    if (attempt()) return true;
    const int error = env.LastError();
    if (std::find(busy_errors.begin(), busy_errors.end(), error) == busy_errors.end())
      return false;
    if (waited + kBusyRetryStepMilliseconds > kBusyRetryMilliseconds) return false;
    env.SleepMilliseconds(kBusyRetryStepMilliseconds);
    waited += kBusyRetryStepMilliseconds;
  }
}

}  // namespace tavrin

#pragma once
// Trying a call again that the system refuses for a moment only: on Windows
// a rename over a file that another process (a virus scanner, an indexer, a
// reader) holds open fails until that process lets go of it.

#include <functional>
#include <initializer_list>

#include "platform/env.h"

namespace tavrin {

/// The waits between the tries of a refused call add up to no more than this.
inline constexpr int kBusyRetryMilliseconds = 2000;
/// The wait before each further try.
inline constexpr int kBusyRetryStepMilliseconds = 50;

/// Calls `attempt` (true on success; on failure its error is env.LastError())
/// until it succeeds, or fails with an error that `busy_errors` does not
/// list, or a further wait would take the waits past kBusyRetryMilliseconds.
/// It waits kBusyRetryStepMilliseconds through env.SleepMilliseconds before
/// each further try. Returns the last try's result; after a failure,
/// env.LastError() is still that try's error.
bool RetryWhileBusy(Env& env, const std::function<bool()>& attempt,
                    std::initializer_list<int> busy_errors);

}  // namespace tavrin

#pragma once
// The import history in the database: a script written with it inserts its
// import id into TAVRIN_IMPORTS as its first statement, in the same
// transaction as its rows. A probe that inserts the same id later learns
// whether that script committed, and fences the id when it had not begun.

#include <optional>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace tavrin {

/// The probe's bare name. It matches none of *.sql, *.tvr and *.olog.
inline constexpr const char* kProbeScriptName = "tavrin-history.probe";

/// How long a probe may wait for the database before it counts as no answer.
inline constexpr int kProbeTimeoutSeconds = 15 * 60;

/// How a script's first bytes show the history.
struct HistoryHeader {
  bool history = false;        // the script records its import (-H, or -A -H)
  bool atomic_header = false;  // it lands whole or not at all (-A, or -A -H)
  bool not_atomic = false;     // "-- not atomic" stands before those lines
};

/// Reads which of the headers of -H, -A and -A -H the script has, whatever
/// this run's switches, from the head of the script at `head` (its first bytes, at least
/// kHistoryHeadBytes of them when the script is that long).
HistoryHeader ReadHistoryHeader(std::string_view head);

/// Enough of a script's first bytes for ReadHistoryHeader.
inline constexpr std::size_t kHistoryHeadBytes = 512;

/// The probe script, with its CR LF line ends; it takes the id as &1.
std::string ProbeScriptText();

/// The answer in a probe's output: 1 when the id's script committed, 0 when
/// nothing of it did (and the id is fenced now); none when the output holds
/// no "TAVRIN-HISTORY <n>" line.
std::optional<int> ProbeAnswer(std::string_view output);

/// A new import id: 32 lowercase hex digits from the system's random source.
/// False when the source cannot be read.
bool NewImportId(Env& env, std::string* id);

/// The script's name as its &2 argument: every ' doubled, at most 200 bytes,
/// never ending in half of a doubled quote.
std::string ScriptNameArgument(std::string_view bare_name);

}  // namespace tavrin

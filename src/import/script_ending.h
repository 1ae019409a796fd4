#pragma once
// Whether a script ends with the line EXIT. A script without it was cut
// short, or is the empty one a failed parse leaves; sqlplus would run
// whatever part of it is there.

#include <string>
#include <string_view>

#include "platform/env.h"

namespace tavrin {

/// Whether `tail`, the last bytes of a script, ends with the line "EXIT",
/// with or without a line end (LF or CR LF) after it. `whole` tells that
/// `tail` is the entire script, so that nothing stands before its first byte.
bool EndsWithExitLine(std::string_view tail, bool whole);

/// Reads the script at `path` through `env` and stores in `*ends` whether it
/// ends with the line EXIT. Holds only its last few bytes, whatever its size.
/// False when it cannot be opened or read.
bool ScriptEndsWithExit(Env& env, const std::string& path, bool* ends);

/// The same in the one pass that also stores in `*hash` the SHA-256 of the
/// script's bytes (64 lowercase hex digits), as the import journal knows it,
/// and in `*head`, when given, its first `head_bytes` bytes.
bool ReadScriptEnding(Env& env, const std::string& path, bool* ends, std::string* hash,
                      std::string* head = nullptr, std::size_t head_bytes = 0);

}  // namespace tavrin

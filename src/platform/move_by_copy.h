#pragma once
// Moving a file to another file system, where a rename cannot go, through the
// calls of an Env: the same steps on every system, and in tests through the
// fault layer.

#include <string>

#include "platform/env.h"

namespace tavrin {

/// The suffix of the copy while it is being made: `<to>` + this.
inline constexpr const char* kCopySuffix = ".tavrin-copy";

/// Moves the regular file `from` to `to`, which must not exist, in four steps
/// that a stop at any moment leaves recoverable:
///   1. copies it to `<to>.tavrin-copy` (a new file) and syncs the copy;
///   2. renames the copy to `to` without replacing anything;
///   3. syncs the directory entry of `to` (Env::SyncEntry);
///   4. removes `from` and syncs its directory entry.
/// Returns 0 on success, otherwise the error number. The caller makes sure
/// that `from` is a regular file: directories are not copied.
/// On a failure before step 4 removed `from`, what the move made is removed
/// again and `from` stays as it was; a failure to sync after the removal is
/// not one (the file is in its one place).
/// `env.MoveNoReplace` is used for step 2 only, within one directory.
int MoveByCopy(Env& env, const std::string& from, const std::string& to);

}  // namespace tavrin

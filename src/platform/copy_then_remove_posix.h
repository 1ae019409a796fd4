#pragma once
// Moving a file to another file system, where rename cannot go.

#include <string>

namespace tavrin {

/// Copies the regular file `from` to the new file `to` (never replacing an
/// existing one), flushes the copy to disk, checks that it is as long as the
/// original and then removes `from`. Returns 0 on success, otherwise the
/// error number; `to` is then removed again and `from` stays as it was.
int CopyThenRemove(const std::string& from, const std::string& to);

}  // namespace tavrin

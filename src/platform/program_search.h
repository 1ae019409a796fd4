#pragma once
// Finding the program file for a child started by bare name. Windows' own
// search tries the current working directory right after the program's own
// directory, and on POSIX an empty or relative PATH entry means the working
// directory too, so a planted sqlplus in the batch's working folder would be
// run with the database password on its command line. We search the same
// places in the same order, but never the working directory. Plain text
// handling, so it builds and is tested everywhere.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

/// Whether `name` names a program without any directory (no `\`, `/` or
/// drive colon), so that it must be searched for.
bool IsBareProgramName(std::string_view name);

/// The directories of a search-path value (`;`-separated), in order; quotes
/// around an entry are removed, and empty and relative entries (".", "bin",
/// "C:bin"), which resolve against the working directory, are dropped.
std::vector<std::string> SplitSearchPath(std::string_view path_value);

/// The directories of a POSIX search-path value (`:`-separated), in order;
/// empty and relative entries, which resolve against the working directory,
/// are dropped.
std::vector<std::string> SplitPosixSearchPath(std::string_view path_value);

/// Looks for the bare Windows program `name` (with ".exe" added when it has
/// no extension) in each of `directories` in turn and returns the first path
/// for which `is_file` holds, or nothing.
std::optional<std::string> FindProgram(std::string_view name,
                                       const std::vector<std::string>& directories,
                                       const std::function<bool(const std::string&)>& is_file);

}  // namespace tavrin

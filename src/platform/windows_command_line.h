#pragma once
// Building a Windows command line from separate arguments. Windows hands a
// child one command line, and the child's C runtime splits it again; these
// functions quote each argument so that the split gives back exactly the
// arguments we started from. Plain text handling, so it builds everywhere.

#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

/// Quotes one argument by the Microsoft C runtime's rules: an argument with
/// blanks, tabs, line ends or quotes, or an empty one, is put in quotes; inside
/// them a quote is escaped with a backslash, and backslashes that precede a
/// quote (or the closing quote) are doubled. Other arguments stay as they are.
std::string QuoteWindowsArgument(std::string_view argument);

/// The whole command line: the program name (quoted only when it holds a
/// blank or tab; the runtime reads the name without backslash escapes) and
/// every further argument quoted by QuoteWindowsArgument, blank-separated.
/// Returns false when the program name holds a quote or is empty, as no
/// command line can carry such a name.
bool BuildWindowsCommandLine(const std::vector<std::string>& argv, std::string* line);

}  // namespace tavrin

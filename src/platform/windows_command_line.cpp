#include "platform/windows_command_line.h"

namespace tavrin {

std::string QuoteWindowsArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos)
    return std::string(argument);

  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      // 2n+1 backslashes before a quote give n backslashes and the quote.
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  // Trailing backslashes stand before the closing quote: double them.
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

bool BuildWindowsCommandLine(const std::vector<std::string>& argv, std::string* line) {
  line->clear();
  if (argv.empty() || argv[0].empty() || argv[0].find('"') != std::string::npos) return false;
  const std::string& program = argv[0];
  if (program.find_first_of(" \t") != std::string::npos) {
    *line = "\"" + program + "\"";
  } else {
    *line = program;
  }
  for (std::size_t i = 1; i < argv.size(); ++i) {
    line->push_back(' ');
    line->append(QuoteWindowsArgument(argv[i]));
  }
  return true;
}

}  // namespace tavrin

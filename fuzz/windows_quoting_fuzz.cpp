// Quoting an argument vector into a Windows command line and splitting it
// back by the Microsoft C runtime's rules gives the same vector. The input
// is the vector, split at NUL bytes; the first item is the program name.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/windows_command_line.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

// The runtime's reading of a command line (the rules of the universal CRT).
std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> argv;
  std::size_t i = 0;
  // The program name: quotes group, nothing escapes.
  std::string name;
  bool quoted = false;
  for (; i < line.size(); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && Blank(line[i])) break;
    name.push_back(line[i]);
  }
  argv.push_back(name);
  for (;;) {
    while (i < line.size() && Blank(line[i])) ++i;
    if (i == line.size()) break;
    std::string arg;
    bool in_quotes = false;
    while (i < line.size()) {
      std::size_t slashes = 0;
      while (i < line.size() && line[i] == '\\') ++slashes, ++i;
      if (i < line.size() && line[i] == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          arg.push_back('"');
          ++i;
          continue;
        }
        if (in_quotes && i + 1 < line.size() && line[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
          continue;
        }
        in_quotes = !in_quotes;
        ++i;
        continue;
      }
      arg.append(slashes, '\\');
      if (i == line.size()) break;
      if (!in_quotes && Blank(line[i])) break;
      arg.push_back(line[i++]);
    }
    argv.push_back(arg);
  }
  return argv;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> argv(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      argv.emplace_back();
    else
      argv.back().push_back(static_cast<char>(data[i]));
  }
  std::string line;
  const bool built = tavrin::BuildWindowsCommandLine(argv, &line);
  const bool expressible = !argv[0].empty() && argv[0].find('"') == std::string::npos;
  if (built != expressible) std::abort();
  if (built && Split(line) != argv) std::abort();
  return 0;
}

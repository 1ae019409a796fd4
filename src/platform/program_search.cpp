#include "platform/program_search.h"

namespace tavrin {
namespace {

// "C:\x", "\\server\share" or "\x": a place that does not depend on the
// working directory.
bool IsRootedWindowsPath(std::string_view path) {
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (!path.empty() && separator(path[0])) return true;
  return path.size() >= 3 && path[1] == ':' && separator(path[2]) &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

bool IsBareProgramName(std::string_view name) {
  return name.find_first_of("\\/:") == std::string_view::npos;
}

std::vector<std::string> SplitSearchPath(std::string_view path_value) {
  std::vector<std::string> directories;
  while (!path_value.empty()) {
    std::size_t end = path_value.find(';');
    std::string_view entry = path_value.substr(0, end);
    path_value.remove_prefix(end == std::string_view::npos ? path_value.size() : end + 1);
    if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"')
      entry = entry.substr(1, entry.size() - 2);
    if (IsRootedWindowsPath(entry)) directories.emplace_back(entry);
  }
  return directories;
}

std::vector<std::string> SplitPosixSearchPath(std::string_view path_value) {
  std::vector<std::string> directories;
  for (;;) {
    std::size_t end = path_value.find(':');
    std::string_view entry = path_value.substr(0, end);
    if (entry.starts_with('/')) directories.emplace_back(entry);
    if (end == std::string_view::npos) return directories;
    path_value.remove_prefix(end + 1);
  }
}

std::optional<std::string> FindProgram(std::string_view name,
                                       const std::vector<std::string>& directories,
                                       const std::function<bool(const std::string&)>& is_file) {
  std::string file(name);
  if (file.find('.') == std::string::npos) file += ".exe";
  for (const std::string& directory : directories) {
    if (directory.empty()) continue;
    std::string candidate = directory;
    if (candidate.back() != '\\' && candidate.back() != '/') candidate.push_back('\\');
    candidate += file;
    if (is_file(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace tavrin

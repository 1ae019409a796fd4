#include "platform/program_search.h"

namespace tavrin {

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
    // An empty entry would mean the working directory, the one place we skip.
    if (!entry.empty()) directories.emplace_back(entry);
  }
  return directories;
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

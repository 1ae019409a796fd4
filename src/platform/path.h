#pragma once
// Paths are built as directory + separator + bare name, the directory exactly
// as the operator typed it. Separators inside names are never translated.

#include <string>
#include <string_view>

namespace tavrin {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

inline std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path;
  path.reserve(directory.size() + 1 + name.size());
  path.append(directory);
  path.push_back(kPathSeparator);
  path.append(name);
  return path;
}

}  // namespace tavrin

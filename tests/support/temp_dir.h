#pragma once

#include <filesystem>
#include <string>

namespace tavrin::test {

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  /// A fresh directory in `parent` instead.
  explicit TempDir(const std::filesystem::path& parent);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

/// Writes `bytes` to `path` exactly, creating parent directories.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

/// The exact bytes of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace tavrin::test

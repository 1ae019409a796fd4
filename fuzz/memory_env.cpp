#include "memory_env.h"

#include <algorithm>
#include <cstring>

#include "platform/path.h"
#include "platform/wildcard.h"

namespace tavrin::fuzz {
namespace {

constexpr int kNotFound = 2, kExists = 17, kIsDirectory = 21;

class MemoryReadable final : public ReadableFile {
 public:
  explicit MemoryReadable(std::string bytes) : bytes_(std::move(bytes)) {}
  long long Read(char* buffer, std::size_t size) override {
    std::size_t n = std::min(size, bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return static_cast<long long>(n);
  }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

class MemoryOutput final : public OutputFile {
 public:
  explicit MemoryOutput(std::string* bytes) : bytes_(bytes) {}
  bool Append(std::string_view data) override {
    bytes_->append(data);
    return true;
  }
  bool Close() override { return true; }
  bool Sync() override { return true; }  // memory is as durable as it gets

 private:
  std::string* bytes_;  // the map's nodes stay put while others come and go
};

class MemoryLock final : public HeldLock {};

std::string Directory(const std::string& path) {
  std::size_t cut = path.rfind(kPathSeparator);
  return cut == std::string::npos ? "." : path.substr(0, cut);
}

}  // namespace

bool MemoryEnv::ParentExists(const std::string& path) const {
  return directories.count(Directory(path)) != 0;
}

bool MemoryEnv::ListMatches(const std::string& pattern, std::vector<std::string>* names) {
  names->clear();
  const std::string directory = Directory(pattern);
  if (!directories.count(directory)) return Fail(kNotFound);
  const std::string wildcard = pattern.substr(pattern.rfind(kPathSeparator) + 1);
  auto consider = [&](const std::string& path) {
    // The directory itself ("." holds ".") is no entry of its own.
    if (path == directory || Directory(path) != directory) return;
    std::string name = path.substr(path.rfind(kPathSeparator) + 1);
    if (WildcardMatch(wildcard, name)) names->push_back(name);
  };
  for (const auto& [path, bytes] : files) consider(path);
  for (const auto& path : directories) consider(path);
  std::sort(names->begin(), names->end());
  return !names->empty() || Fail(0);  // searched, and nothing matched
}

std::unique_ptr<ReadableFile> MemoryEnv::OpenForReading(const std::string& path) {
  auto found = files.find(path);
  if (found == files.end()) return Fail(directories.count(path) ? kIsDirectory : kNotFound), nullptr;
  return std::make_unique<MemoryReadable>(found->second);
}

std::unique_ptr<OutputFile> MemoryEnv::CreateOutput(const std::string& path) {
  if (!ParentExists(path) || directories.count(path)) return Fail(kNotFound), nullptr;
  std::string& bytes = files[path];
  bytes.clear();
  return std::make_unique<MemoryOutput>(&bytes);
}

std::unique_ptr<OutputFile> MemoryEnv::CreateNewOutput(const std::string& path, bool* exists) {
  *exists = files.count(path) || directories.count(path);
  if (*exists) return Fail(kExists), nullptr;
  return CreateOutput(path);
}

std::unique_ptr<OutputFile> MemoryEnv::OpenForAppending(const std::string& path) {
  if (directories.count(path)) return Fail(kExists), nullptr;
  if (!ParentExists(path)) return Fail(kNotFound), nullptr;
  return std::make_unique<MemoryOutput>(&files[path]);
}

bool MemoryEnv::MoveNoReplace(const std::string& from, const std::string& to) {
  if (files.count(to) || directories.count(to)) return Fail(kExists);
  if (!ParentExists(to)) return Fail(kNotFound);
  auto found = files.find(from);
  if (found == files.end()) return Fail(kNotFound);
  files[to] = std::move(found->second);
  files.erase(from);
  return true;
}

bool MemoryEnv::RenameReplacing(const std::string& from, const std::string& to) {
  auto found = files.find(from);
  if (found == files.end() || !ParentExists(to)) return Fail(kNotFound);
  std::string bytes = std::move(found->second);
  files.erase(found);
  files[to] = std::move(bytes);
  return true;
}

bool MemoryEnv::RemoveFile(const std::string& path) { return files.erase(path) || Fail(kNotFound); }

bool MemoryEnv::MakeDirectory(const std::string& path, bool* exists) {
  *exists = files.count(path) || directories.count(path);
  if (*exists) return Fail(kExists);
  if (!ParentExists(path)) return Fail(kNotFound);
  directories.insert(path);
  return true;
}

std::unique_ptr<HeldLock> MemoryEnv::LockExclusive(const std::string& path, LockFailure* failure) {
  *failure = LockFailure::kCannotOpen;
  if (!ParentExists(path)) return Fail(kNotFound), nullptr;
  files.emplace(path, "");
  *failure = LockFailure::kNone;
  return std::make_unique<MemoryLock>();
}

bool MemoryEnv::ReadOwnVersion(VersionInfo* info) {
  info->product_name = "Tavrin";
  info->has_file_version = true;
  info->major = 1;
  return true;
}

}  // namespace tavrin::fuzz

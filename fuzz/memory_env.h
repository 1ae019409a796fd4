#pragma once
// An Env held wholly in memory, for the fuzz targets: files are byte strings
// by path, directories a set of paths, the clock stands still and no child
// can be started. Fast, and the same on every run.

#include <map>
#include <set>
#include <string>

#include "platform/env.h"

namespace tavrin::fuzz {

class MemoryEnv final : public Env {
 public:
  std::map<std::string, std::string> files;
  std::set<std::string> directories{"."};

  int LastError() const override { return last_error_; }
  std::string ErrorText(int error) const override { return "error " + std::to_string(error); }
  bool ListMatches(const std::string& pattern, std::vector<std::string>* names) override;
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateNewOutput(const std::string& path, bool* exists) override;
  std::unique_ptr<OutputFile> OpenForAppending(const std::string& path) override;
  bool MoveNoReplace(const std::string& from, const std::string& to) override;
  bool RenameReplacing(const std::string& from, const std::string& to) override;
  bool SyncEntry(const std::string&) override { return true; }  // memory is always "on the disk"
  bool RemoveFile(const std::string& path) override;
  bool MakeDirectory(const std::string& path, bool* exists) override;
  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, LockFailure* failure) override;
  // One process, whose own locks never shut it out.
  LockTest TestLock(const std::string&) override { return LockTest::kFree; }
  DateTime UtcNow() override { return DateTime{2026, 12, 1, 10, 15, 30}; }
  DateTime LocalNow() override { return DateTime{2026, 12, 1, 11, 15, 30}; }
  std::int64_t CalendarSeconds() override { return 0; }
  void SleepMilliseconds(int) override {}  // memory needs no waiting
  bool RunChild(const ChildCommand&, ChildExit*) override { return Fail(2); }
  bool ReadOwnVersion(VersionInfo* info) override;
  std::optional<std::string> Variable(const std::string&) override { return std::nullopt; }
  // A counter: the ids differ, and a run replays the same every time.
  bool RandomBytes(unsigned char* buffer, std::size_t size) override {
    for (std::size_t i = 0; i < size; ++i) buffer[i] = static_cast<unsigned char>(++random_);
    return true;
  }

 private:
  bool Fail(int error) {
    last_error_ = error;
    return false;
  }
  bool ParentExists(const std::string& path) const;

  int last_error_ = 0;
  unsigned random_ = 0;
};

}  // namespace tavrin::fuzz

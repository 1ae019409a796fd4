#pragma once
// An Env that forwards every call to another one. A test derives from it and
// overrides the one or two calls it wants to fail or to pin down (a clock, a
// move, a write), leaving the rest to the real system.

#include "platform/env.h"

namespace tavrin::test {

class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}

  int LastError() const override { return injected_error_ ? injected_error_ : target_->LastError(); }
  std::string ErrorText(int error) const override { return target_->ErrorText(error); }
  bool ListMatches(const std::string& pattern, std::vector<std::string>* names) override {
    return Track(target_->ListMatches(pattern, names));
  }
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
    injected_error_ = 0;
    return target_->OpenForReading(path);
  }
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override {
    injected_error_ = 0;
    return target_->CreateOutput(path);
  }
  std::unique_ptr<OutputFile> CreateNewOutput(const std::string& path, bool* exists) override {
    injected_error_ = 0;
    return target_->CreateNewOutput(path, exists);
  }
  std::unique_ptr<OutputFile> OpenForAppending(const std::string& path) override {
    injected_error_ = 0;
    return target_->OpenForAppending(path);
  }
  bool SyncFile(OutputFile& file) override { return Track(target_->SyncFile(file)); }
  bool MoveNoReplace(const std::string& from, const std::string& to) override {
    return Track(target_->MoveNoReplace(from, to));
  }
  bool RenameReplacing(const std::string& from, const std::string& to) override {
    return Track(target_->RenameReplacing(from, to));
  }
  bool RemoveFile(const std::string& path) override { return Track(target_->RemoveFile(path)); }
  bool MakeDirectory(const std::string& path, bool* exists) override {
    return Track(target_->MakeDirectory(path, exists));
  }
  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, bool* busy) override {
    injected_error_ = 0;
    return target_->LockExclusive(path, busy);
  }
  DateTime UtcNow() override { return target_->UtcNow(); }
  DateTime LocalNow() override { return target_->LocalNow(); }
  std::int64_t CalendarSeconds() override { return target_->CalendarSeconds(); }
  bool RunChild(const ChildCommand& command, ChildExit* exit) override {
    return Track(target_->RunChild(command, exit));
  }
  bool ReadOwnVersion(VersionInfo* info) override { return target_->ReadOwnVersion(info); }

 protected:
  /// Makes the calling override fail with `error` as the last error.
  bool Fail(int error) {
    injected_error_ = error;
    return false;
  }
  bool Track(bool ok) {
    injected_error_ = 0;
    return ok;
  }

 private:
  Env* target_;
  int injected_error_ = 0;
};

}  // namespace tavrin::test

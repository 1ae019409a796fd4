#pragma once
// An Env that forwards every call to another one. A test derives from it and
// overrides the one or two calls it wants to fail or to pin down (a clock, a
// move, a write), leaving the rest to the real system.

#include <memory>
#include <string_view>

#include "platform/env.h"

namespace tavrin::test {

/// An output file that forwards every call to another one; a test overrides
/// the call it wants to fail or to count.
class OutputFileWrapper : public OutputFile {
 public:
  explicit OutputFileWrapper(std::unique_ptr<OutputFile> target) : target_(std::move(target)) {}
  bool Append(std::string_view data) override { return target_->Append(data); }
  bool Close() override { return target_->Close(); }
  bool Sync() override { return target_->Sync(); }
  int LastError() const override { return target_->LastError(); }

 protected:
  OutputFile& target() { return *target_; }

 private:
  std::unique_ptr<OutputFile> target_;
};

/// Counts the syncs of the files it wraps and can refuse them, with error 5.
struct SyncCounter {
  int syncs = 0;
  int refuse_number = 0;    // refuses the sync with this number (from 1) only
  bool refuse_all = false;  // refuses every sync

  std::unique_ptr<OutputFile> Wrap(std::unique_ptr<OutputFile> file) {
    struct Counted final : OutputFileWrapper {
      Counted(std::unique_ptr<OutputFile> target, SyncCounter& counter)
          : OutputFileWrapper(std::move(target)), counter_(counter) {}
      bool Sync() override {
        const int number = ++counter_.syncs;
        refused_ = counter_.refuse_all || number == counter_.refuse_number;
        return !refused_ && OutputFileWrapper::Sync();
      }
      int LastError() const override { return refused_ ? 5 : OutputFileWrapper::LastError(); }
      SyncCounter& counter_;
      bool refused_ = false;
    };
    if (!file) return nullptr;
    return std::make_unique<Counted>(std::move(file), *this);
  }
};

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
  bool MoveNoReplace(const std::string& from, const std::string& to) override {
    return Track(target_->MoveNoReplace(from, to));
  }
  bool RenameReplacing(const std::string& from, const std::string& to) override {
    return Track(target_->RenameReplacing(from, to));
  }
  bool SyncEntry(const std::string& path) override { return Track(target_->SyncEntry(path)); }
  bool RemoveFile(const std::string& path) override { return Track(target_->RemoveFile(path)); }
  bool MakeDirectory(const std::string& path, bool* exists) override {
    return Track(target_->MakeDirectory(path, exists));
  }
  std::unique_ptr<HeldLock> LockExclusive(const std::string& path, LockFailure* failure) override {
    injected_error_ = 0;
    return target_->LockExclusive(path, failure);
  }
  LockTest TestLock(const std::string& path) override {
    injected_error_ = 0;
    return target_->TestLock(path);
  }
  /// Never sleeps: counts the waits, so that no test waits for real.
  void SleepMilliseconds(int milliseconds) override {
    ++sleeps_;
    slept_milliseconds_ += milliseconds;
  }
  DateTime UtcNow() override { return target_->UtcNow(); }
  DateTime LocalNow() override { return target_->LocalNow(); }
  std::int64_t CalendarSeconds() override { return target_->CalendarSeconds(); }
  bool RunChild(const ChildCommand& command, ChildExit* exit) override {
    return Track(target_->RunChild(command, exit));
  }
  bool ReadOwnVersion(VersionInfo* info) override { return target_->ReadOwnVersion(info); }
  std::optional<std::string> Variable(const std::string& name) override {
    return target_->Variable(name);
  }
  bool ClientPath(const std::string& path, std::string* passable) override {
    return target_->ClientPath(path, passable);
  }
  bool RandomBytes(unsigned char* buffer, std::size_t size) override {
    return target_->RandomBytes(buffer, size);
  }

  /// The waits asked for so far, and their sum.
  int sleeps() const { return sleeps_; }
  long long slept_milliseconds() const { return slept_milliseconds_; }

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
  int sleeps_ = 0;
  long long slept_milliseconds_ = 0;
};

}  // namespace tavrin::test

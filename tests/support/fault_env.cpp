#include "support/fault_env.h"

#include <algorithm>

#include "platform/move_by_copy.h"

namespace tavrin::test {
namespace {

// The error every injected failure reports: EIO on POSIX,
// ERROR_ACCESS_DENIED on Windows; each system has a text for it.
constexpr int kInjectedError = 5;
#ifdef _WIN32
constexpr int kDiskFull = 112;  // ERROR_DISK_FULL
#else
constexpr int kDiskFull = 28;  // ENOSPC
#endif

class FaultReadable final : public ReadableFile {
 public:
  FaultReadable(FaultEnv& env, std::unique_ptr<ReadableFile> file)
      : env_(env), file_(std::move(file)) {}
  long long Read(char* buffer, std::size_t size) override {
    if (!env_.Due("Read")) return file_->Read(buffer, size);
    env_.FailRead();
    return -1;
  }

 private:
  FaultEnv& env_;
  std::unique_ptr<ReadableFile> file_;
};

class FaultOutput final : public OutputFileWrapper {
 public:
  FaultOutput(FaultEnv& env, std::unique_ptr<OutputFile> file)
      : OutputFileWrapper(std::move(file)), env_(env) {}
  bool Append(std::string_view data) override {
    if (!Injected("Append")) return OutputFileWrapper::Append(data);
    // A full disk takes part of a write before it refuses the rest.
    const auto& kept = env_.short_write();
    disk_full_ = kept.has_value();
    OutputFileWrapper::Append(data.substr(0, kept ? *kept : data.size() / 2));
    return false;
  }
  bool Close() override {
    bool closed = OutputFileWrapper::Close();
    return !Injected("Close") && closed;
  }
  bool Sync() override { return !Injected("Sync") && OutputFileWrapper::Sync(); }
  int LastError() const override {
    if (!injected_) return OutputFileWrapper::LastError();
    return disk_full_ ? kDiskFull : kInjectedError;
  }
  // The real file, for the stand-in client's output, which is not ours.
  OutputFile& inner() { return target(); }

 private:
  bool Injected(const char* call) { return injected_ = env_.Due(call); }

  FaultEnv& env_;
  bool injected_ = false;
  bool disk_full_ = false;
};

std::unique_ptr<OutputFile> Wrap(FaultEnv& env, std::unique_ptr<OutputFile> file) {
  if (!file) return nullptr;
  return std::make_unique<FaultOutput>(env, std::move(file));
}

std::string ReadWhole(Env& env, const std::string& path) {
  std::string bytes;
  auto file = env.OpenForReading(path);
  if (!file) return "(unreadable)";
  char buffer[4096];
  long long n;
  while ((n = file->Read(buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
  return bytes;
}

std::string BareName(const std::string& path) {
  std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

FaultEnv::FaultEnv(std::int64_t fail_at) : EnvWrapper(Env::Default()), fail_at_(fail_at) {}

bool FaultEnv::Due(const char* call) {
  if (fail_named_ == call) {
    fail_named_.clear();
  } else if (++calls_ != fail_at_) {
    return false;
  }
  failed_call_ = call;
  return true;
}

void FaultEnv::FailRead() { Fail(kInjectedError); }

bool FaultEnv::ListMatches(const std::string& pattern, std::vector<std::string>* names) {
  if (Due("ListMatches")) {
    names->clear();
    return Fail(kInjectedError);
  }
  return EnvWrapper::ListMatches(pattern, names);
}

std::unique_ptr<ReadableFile> FaultEnv::OpenForReading(const std::string& path) {
  if (Due("OpenForReading")) return Fail(kInjectedError), nullptr;
  auto file = EnvWrapper::OpenForReading(path);
  if (!file) return nullptr;
  return std::make_unique<FaultReadable>(*this, std::move(file));
}

std::unique_ptr<OutputFile> FaultEnv::CreateOutput(const std::string& path) {
  if (Due("CreateOutput")) return Fail(kInjectedError), nullptr;
  return Wrap(*this, EnvWrapper::CreateOutput(path));
}

std::unique_ptr<OutputFile> FaultEnv::CreateNewOutput(const std::string& path, bool* exists) {
  if (Due("CreateNewOutput")) {
    *exists = false;
    return Fail(kInjectedError), nullptr;
  }
  return Wrap(*this, EnvWrapper::CreateNewOutput(path, exists));
}

std::unique_ptr<OutputFile> FaultEnv::OpenForAppending(const std::string& path) {
  if (Due("OpenForAppending")) return Fail(kInjectedError), nullptr;
  return Wrap(*this, EnvWrapper::OpenForAppending(path));
}


bool FaultEnv::MoveNoReplace(const std::string& from, const std::string& to) {
  if (Due("MoveNoReplace")) return Fail(kInjectedError);
  if (!refuse_moves_of.empty() && from.find(refuse_moves_of) != std::string::npos)
    return Fail(kInjectedError);
  auto directory = [](const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); };
  if (cross_device && directory(from) != directory(to)) {
    const int error = MoveByCopy(*this, from, to);
    return error == 0 || Fail(error);
  }
  return EnvWrapper::MoveNoReplace(from, to);
}

bool FaultEnv::SyncEntry(const std::string& path) {
  return Due("SyncEntry") ? Fail(kInjectedError) : EnvWrapper::SyncEntry(path);
}

bool FaultEnv::RenameReplacing(const std::string& from, const std::string& to) {
  return Due("RenameReplacing") ? Fail(kInjectedError) : EnvWrapper::RenameReplacing(from, to);
}

bool FaultEnv::RemoveFile(const std::string& path) {
  return Due("RemoveFile") ? Fail(kInjectedError) : EnvWrapper::RemoveFile(path);
}

bool FaultEnv::MakeDirectory(const std::string& path, bool* exists) {
  if (Due("MakeDirectory")) {
    *exists = false;
    return Fail(kInjectedError);
  }
  return EnvWrapper::MakeDirectory(path, exists);
}

// The lock call itself fails, as on a mount without locks: the file is
// there, the lock is not.
std::unique_ptr<HeldLock> FaultEnv::LockExclusive(const std::string& path, LockFailure* failure) {
  if (Due("LockExclusive")) {
    *failure = LockFailure::kCannotLock;
    return Fail(kNoLocks), nullptr;
  }
  return EnvWrapper::LockExclusive(path, failure);
}

// As on a mount without locks, like LockExclusive.
LockTest FaultEnv::TestLock(const std::string& path) {
  if (Due("TestLock")) return Fail(kNoLocks), LockTest::kUnknown;
  return EnvWrapper::TestLock(path);
}

bool FaultEnv::ClientPath(const std::string& path, std::string* passable) {
  return Due("ClientPath") ? false : EnvWrapper::ClientPath(path, passable);
}

bool FaultEnv::RunChild(const ChildCommand& command, ChildExit* exit) {
  if (Due("RunChild")) return Fail(kInjectedError);
  std::string script;
  for (const std::string& arg : command.argv)
    if (arg.size() > 1 && arg[0] == '@') script = arg.substr(1);
  // The stand-in's own reading and writing are not Tavrin's calls: straight
  // to the system, uncounted.
  const std::string bytes = ReadWhole(*Env::Default(), script);
  scripts_run_.emplace(BareName(script), bytes);
  if (auto* out = dynamic_cast<FaultOutput*>(command.stdout_file))
    out->inner().Append("PL/SQL procedure successfully completed.\n");
  *exit = ChildExit{};
  return Track(true);
}

bool FaultEnv::RandomBytes(unsigned char* buffer, std::size_t size) {
  if (Due("RandomBytes")) return Fail(kInjectedError);
  return EnvWrapper::RandomBytes(buffer, size);
}

bool FaultEnv::ReadOwnVersion(VersionInfo* info) {
  return Due("ReadOwnVersion") ? false : EnvWrapper::ReadOwnVersion(info);
}

}  // namespace tavrin::test

// Each failure that names a file or a program is followed by the system's
// reason, on the same stream and in the log. One call on one file fails,
// through the test platform layer, in a full run over the example batch.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "driver/driver.h"
#include "fault/example_batch.h"
#include "support/fault_env.h"
#include "support/temp_dir.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

constexpr int kError = 5;  // EIO, or ERROR_ACCESS_DENIED: each system has a text

// What fails: the `nth` call named `call` on a path that ends with `suffix`.
struct Target {
  std::string call;  // "OpenForReading", "Read", "CreateOutput", "CreateNewOutput", "Close", "RunChild"
  std::string suffix;
  int nth = 1;
};

// Fails a read of a file it hands out, as a disk that stops half-way.
class FailingRead final : public ReadableFile {
 public:
  explicit FailingRead(FaultEnv& env) : env_(env) {}
  long long Read(char*, std::size_t) override {
    env_.FailRead();
    return -1;
  }

 private:
  FaultEnv& env_;
};

// Fails its close, as a file system that loses a write at the end.
class FailingClose final : public OutputFileWrapper {
 public:
  using OutputFileWrapper::OutputFileWrapper;
  bool Close() override {
    OutputFileWrapper::Close();
    return false;
  }
  int LastError() const override { return kError; }
};

// The stand-in client of FaultEnv, and one targeted failure.
class TargetEnv final : public FaultEnv {
 public:
  explicit TargetEnv(Target target) : FaultEnv(0), target_(std::move(target)) {}

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
    if (Hit("OpenForReading", path)) return Fail(kError), nullptr;
    auto file = FaultEnv::OpenForReading(path);
    if (file && Hit("Read", path)) return std::make_unique<FailingRead>(*this);
    return file;
  }
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override {
    if (Hit("CreateOutput", path)) return Fail(kError), nullptr;
    return Closing(FaultEnv::CreateOutput(path), path);
  }
  std::unique_ptr<OutputFile> CreateNewOutput(const std::string& path, bool* exists) override {
    if (Hit("CreateNewOutput", path)) return *exists = false, Fail(kError), nullptr;
    return Closing(FaultEnv::CreateNewOutput(path, exists), path);
  }
  bool RunChild(const ChildCommand& command, ChildExit* exit) override {
    return Hit("RunChild", command.argv[0]) ? Fail(kError) : FaultEnv::RunChild(command, exit);
  }

 private:
  bool Hit(const char* call, const std::string& path) {
    return target_.call == call && path.ends_with(target_.suffix) && ++seen_ == target_.nth;
  }
  std::unique_ptr<OutputFile> Closing(std::unique_ptr<OutputFile> file, const std::string& path) {
    if (!file || !Hit("Close", path)) return file;
    return std::make_unique<FailingClose>(std::move(file));
  }

  Target target_;
  int seen_ = 0;
};

TEST(ReasonLines, FollowEveryFailureThatNamesAFileOrTheClient) {
  struct Case {
    Target target;
    std::string message;  // the failure's own line, which the reason follows
    bool history = false;  // -H: the history's probe is the first client
  };
  const std::string reason = "\tReason: " + Env::Default()->ErrorText(kError) + "\n";
  const std::vector<Case> cases = {
      {{"OpenForReading", "a.sql", 1}, "Error: Unable to open file "},           // grouping
      {{"OpenForReading", "a.sql", 2}, "Error: Unable to open input file "},     // parse
      {{"Read", "b.sql", 2}, "Error: Unable to open input file "},               // parse, half-way
      {{"CreateOutput", "Output1.tvr.part", 1}, "Error: Unable to create output log file:"},
      {{"Close", "Output1.tvr.part", 1}, "Error: Unable to write output log file:"},
      {{"OpenForReading", "Output1.tvr", 1}, "Warning: Unable to read script "},
      {{"CreateNewOutput", ".olog", 1}, "Error: Could not create the output log file."},
      {{"RunChild", "sqlplus", 1}, "Error executing the sqlplus command."},
      {{"Close", ".olog", 1}, "Warning: Unable to complete output log "},
      {{"OpenForReading", ".olog", 1}, "Warning: Unable to read output log "},
      {{"RunChild", "sqlplus", 1}, "Error: The import history TAVRIN_IMPORTS cannot be used", true},
  };
  TempDir scratch;
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target.call + " " + c.target.suffix + " #" + std::to_string(c.target.nth));
    const fs::path where = scratch.path() / std::to_string(++number);
    fs::create_directories(where / "in");
    fs::create_directories(where / "out");
    WriteFile(where / "in" / "a.sql", kExampleA);
    WriteFile(where / "in" / "b.sql", kExampleB);
    const std::string in = (where / "in").string(), out = (where / "out").string();
    std::vector<const char*> argv = {"tavrin", "-p", "-I", "-l", "-i", in.c_str(), "-o",
                                     out.c_str(), "-U", "scott", "-P", "tiger", "-S", "orcl"};
    if (c.history) argv.push_back("-H");
    TargetEnv env(c.target);
    std::ostringstream out_stream, err_stream;
    const fs::path previous = fs::current_path();
    fs::current_path(where);  // the log goes there
    RunTavrin(static_cast<int>(argv.size()), argv.data(), env, out_stream, err_stream);
    fs::current_path(previous);

    const std::string messages = out_stream.str() + err_stream.str();
    const std::size_t at = messages.find(c.message);
    ASSERT_NE(at, std::string::npos) << messages;
    EXPECT_EQ(messages.substr(messages.find('\n', at) + 1, reason.size()), reason) << messages;
    EXPECT_EQ(messages.find(reason, messages.find(reason) + 1), std::string::npos) << "twice";
    std::string log;
    for (const auto& entry : fs::directory_iterator(where))
      if (entry.path().extension() == ".log") log = ReadFile(entry.path());
    EXPECT_NE(log.find(reason), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace tavrin::test

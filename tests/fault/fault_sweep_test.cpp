// Every platform call of a full run (-p -I -m -l) fails once, one run per
// call. After each run nothing may be lost or half-done without a word:
// the run ends with 0 or 1 and, with 1, says what failed; every input file
// is still there exactly once, unchanged, in the input or the backup
// directory; the client was only ever handed the scripts of the clean run;
// and no script is left cut short.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "fault/example_batch.h"
#include "support/fault_env.h"
#include "support/temp_dir.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

using Batch = std::map<std::string, std::string>;  // bare name -> bytes

Batch ExampleBatch() { return {{"a.sql", kExampleA}, {"b.sql", kExampleB}, {"c.sql", kExampleC}}; }

// Several groups, a file that continues a group, CR LF and LF line ends, and
// a group of one file.
Batch SeveralGroups() {
  auto crlf = [](std::string text) {
    std::string out;
    for (char c : text) {
      if (c == '\n') out += '\r';
      out += c;
    }
    return out;
  };
  return {{"01.sql", kExampleA},
          {"02.sql", crlf(kExampleB)},
          {"03.sql", kExampleC},
          {"04.sql", crlf(kExampleA)},
          {"05.sql", kExampleB},
          {"06.sql", crlf(kExampleC)},
          {"07.sql", kExampleA}};
}

struct Outcome {
  int code = -1;
  std::string messages;  // standard output, then standard error
  std::string failed_call;
  std::int64_t calls = 0;
  std::multimap<std::string, std::string> scripts_run;
};

// One run in a fresh directory `where` (its working directory), failing
// call `fail_at`.
Outcome RunOnce(const fs::path& where, const Batch& batch, std::int64_t fail_at) {
  fs::create_directories(where / "in");
  fs::create_directories(where / "out");
  for (const auto& [name, bytes] : batch) WriteFile(where / "in" / name, bytes);
  const fs::path previous = fs::current_path();
  fs::current_path(where);
  const std::string in = (where / "in").string(), out = (where / "out").string();
  const char* argv[] = {"tavrin", "-p", "-I", "-m", "-l", "-i", in.c_str(), "-o", out.c_str(),
                        "-U", "scott", "-P", "tiger", "-S", "orcl"};
  FaultEnv env(fail_at);
  std::ostringstream out_stream, err_stream;
  Outcome o;
  o.code = RunTavrin(static_cast<int>(std::size(argv)), argv, env, out_stream, err_stream);
  fs::current_path(previous);
  o.messages = out_stream.str() + err_stream.str();
  o.failed_call = env.failed_call();
  o.calls = env.calls();
  o.scripts_run = env.scripts_run();
  return o;
}

// Every regular file under `where`, by path relative to it.
std::map<std::string, std::string> Files(const fs::path& where) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(where))
    if (e.is_regular_file()) files[fs::relative(e.path(), where).generic_string()] = ReadFile(e.path());
  return files;
}

std::string BareName(const std::string& path) {
  std::size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool IsInputOrBackup(const std::string& relative) {
  return relative.starts_with("in/") || relative.starts_with("Processed_");
}

void Sweep(const Batch& batch) {
  TempDir scratch;
  const Outcome clean = RunOnce(scratch.path() / "clean", batch, 0);
  ASSERT_EQ(clean.code, 0) << clean.messages;
  ASSERT_FALSE(clean.scripts_run.empty());
  // The clean run's scripts as written: the import journal may skip one
  // whose bytes another script of the run already took to the client.
  std::map<std::string, std::string> clean_scripts;
  for (const auto& [relative, content] : Files(scratch.path() / "clean"))
    if (relative.ends_with(".tvr")) clean_scripts[BareName(relative)] = content;
  for (const auto& [name, bytes] : clean.scripts_run) ASSERT_EQ(clean_scripts[name], bytes) << name;

  // One call beyond the clean run's: the failure is never reached there.
  for (std::int64_t k = 1; k <= clean.calls + 1; ++k) {
    const fs::path where = scratch.path() / ("k" + std::to_string(k));
    const Outcome o = RunOnce(where, batch, k);
    SCOPED_TRACE("call " + std::to_string(k) + " of " + std::to_string(clean.calls) + " failed: " +
                 o.failed_call + "\n" + o.messages);

    EXPECT_TRUE(o.code == 0 || o.code == 1);
    if (o.code == 1) {
      EXPECT_TRUE(o.messages.find("rror") != std::string::npos ||
                  o.messages.find("failed") != std::string::npos ||
                  o.messages.find("Unable") != std::string::npos)
          << "ended with 1 without saying what failed";
    }

    const auto files = Files(where);
    for (const auto& [name, bytes] : batch) {
      int copies = 0;
      for (const auto& [relative, content] : files) {
        if (!IsInputOrBackup(relative) || BareName(relative) != name) continue;
        ++copies;
        EXPECT_EQ(content, bytes) << relative << " changed";
      }
      EXPECT_EQ(copies, 1) << name << " is not present exactly once";
    }

    for (const auto& [name, bytes] : o.scripts_run) {
      ASSERT_TRUE(clean_scripts.count(name)) << "the client ran " << name;
      EXPECT_EQ(bytes, clean_scripts[name]) << "the client was handed a different " << name;
    }
    for (const auto& [relative, content] : files) {
      const std::string name = BareName(relative);
      if (!name.ends_with(".tvr")) continue;
      ASSERT_TRUE(clean_scripts.count(name)) << relative;
      EXPECT_EQ(content, clean_scripts[name]) << relative << " is cut short";
    }
    if (::testing::Test::HasFailure()) return;  // one failing k tells enough
    fs::remove_all(where);
  }
}

TEST(FaultSweep, EveryCallOfAFullRunOverTheExampleBatchFailsOnce) { Sweep(ExampleBatch()); }

// A run in `where` with `switches` and the folders in/ and out/, failing
// call `fail_at` with a full disk that takes `kept` bytes of a write.
Outcome RunIn(const fs::path& where, std::vector<std::string> switches, std::int64_t fail_at,
              std::size_t kept) {
  const fs::path previous = fs::current_path();
  fs::current_path(where);
  switches.insert(switches.begin(), "tavrin");
  for (const char* more : {"-i", "in", "-o", "out", "-U", "scott", "-P", "tiger", "-S", "orcl"})
    switches.push_back(more);
  std::vector<const char*> argv;
  for (const std::string& arg : switches) argv.push_back(arg.c_str());
  FaultEnv env(fail_at);
  env.ShortWrites(kept);
  std::ostringstream out_stream, err_stream;
  Outcome o;
  o.code = RunTavrin(static_cast<int>(argv.size()), argv.data(), env, out_stream, err_stream);
  fs::current_path(previous);
  o.messages = out_stream.str() + err_stream.str();
  o.failed_call = env.failed_call();
  o.calls = env.calls();
  o.scripts_run = env.scripts_run();
  return o;
}

// A full disk cuts a journal line short, the run stops, a retry follows,
// then a later run: every script goes to the client exactly once, and the
// torn line never comes back, neither completed into a record nor as a line
// that cannot be read.
TEST(FaultSweep, AJournalLineThatAFullDiskCutShortIsRemovedAndNeverComesBack) {
  TempDir scratch;
  const fs::path parsed = scratch.path() / "parsed";
  fs::create_directories(parsed / "out");
  fs::create_directories(parsed / "in");
  for (const auto& [name, bytes] : SeveralGroups()) WriteFile(parsed / "in" / name, bytes);
  ASSERT_EQ(RunIn(parsed, {"-p"}, 0, 0).code, 0);
  std::vector<std::string> scripts;
  for (const auto& e : fs::directory_iterator(parsed / "out"))
    if (e.path().extension() == ".tvr") scripts.push_back(e.path().filename().string());
  ASSERT_FALSE(scripts.empty());

  const auto fresh = [&](const std::string& name) {
    const fs::path where = scratch.path() / name;
    fs::create_directories(where / "out");
    fs::create_directories(where / "in");
    for (const std::string& script : scripts) fs::copy(parsed / "out" / script, where / "out");
    return where;
  };
  const Outcome clean = RunIn(fresh("clean"), {"-I"}, 0, 0);
  ASSERT_EQ(clean.code, 0) << clean.messages;
  int torn = 0;
  for (std::int64_t k = 1; k <= clean.calls; ++k) {
    for (std::size_t kept : {80}) {  // in the line's time
      const fs::path where = fresh("k" + std::to_string(k) + "_" + std::to_string(kept));
      const Outcome first = RunIn(where, {"-I"}, k, kept);
      if (first.failed_call != "Append") continue;
      ++torn;
      SCOPED_TRACE("call " + std::to_string(k) + ", " + std::to_string(kept) + " bytes kept\n" +
                   first.messages);
      EXPECT_EQ(first.code, 1);
      const Outcome retry = RunIn(where, {"-I"}, 0, 0);
      EXPECT_NE(retry.messages.find(" could not be read. They are ignored; a last line cut "
                                    "short is removed.\n"),
                std::string::npos)
          << retry.messages;
      const Outcome later = RunIn(where, {"-I"}, 0, 0);
      EXPECT_EQ(later.messages.find("could not be read"), std::string::npos) << later.messages;
      EXPECT_TRUE(later.scripts_run.empty());
      for (const std::string& script : scripts)
        EXPECT_EQ(first.scripts_run.count(script) + retry.scripts_run.count(script), 1u)
            << script << "\n" << retry.messages;
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_GT(torn, 0);
}

TEST(FaultSweep, EveryCallOfAFullRunOverSeveralGroupsFailsOnce) { Sweep(SeveralGroups()); }

}  // namespace
}  // namespace tavrin::test

#include "e2e/harness.h"

#include <algorithm>
#include <cstdlib>
#include <regex>

#include "platform/env.h"

namespace tavrin::test {

namespace fs = std::filesystem;

namespace {

std::string FromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::string FoldCrLf(std::string text) {
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    folded.push_back(text[i]);
  }
  return folded;
}

}  // namespace

const E2eTarget& E2eTarget::Get() {
  static const E2eTarget target = [] {
    E2eTarget t;
    t.binary = FromEnvironment("TAVRIN_E2E_BINARY", TAVRIN_BINARY);
    std::string loader = FromEnvironment("TAVRIN_E2E_LAUNCHER", "");
    if (!loader.empty()) t.launcher.push_back(loader);
    t.windows = FromEnvironment("TAVRIN_E2E_WINDOWS", "0") == "1";
    return t;
  }();
  return target;
}

const E2eTarget& E2eTarget::Native() {
  static const E2eTarget target = [] {
    E2eTarget t;
    t.binary = TAVRIN_BINARY;
    return t;
  }();
  return target;
}

namespace {

// A host path as `target` sees it: Wine shows the Linux root as drive Z:.
std::string PathFor(const E2eTarget& target, const fs::path& host) {
  if (!target.windows) return host.string();
  std::string path = "Z:" + host.string();
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

}  // namespace

std::string ReasonLine(const std::string& output, const std::string& posix) {
  if (!E2eTarget::Get().windows) return "\tReason: " + posix + "\n";
  const std::size_t at = output.find("\tReason: ");
  if (at == std::string::npos) return "(no reason line)";
  const std::size_t end = output.find('\n', at);
  return end == at + 9 ? "(empty reason)" : output.substr(at, end + 1 - at);
}

std::string E2eTest::Sep() { return E2eTarget::Get().windows ? "\\" : "/"; }

std::string E2eTest::Path(const fs::path& host) { return PathFor(E2eTarget::Get(), host); }

std::string E2eTest::Program() {
  const E2eTarget& target = E2eTarget::Get();
  return PathFor(target, target.binary);
}

std::string E2eTest::Banner() { return "\nTavrin \nversion 1.0 (Oracle version)\n\n"; }

std::string E2eTest::ShortUsage() {
  return "[Usage] : " + Program() +
         " [-U username] [-P password] [-S Host Identifier] [-i input directory] [-o output "
         "directory] [-p Group and Parse File] [-I import to SQL] [-l Enable file logging]\n";
}

E2eResult E2eTest::RunTavrin(const std::vector<std::string>& args, const fs::path& cwd,
                             const std::vector<std::pair<std::string, std::string>>& env) {
  return RunTarget(E2eTarget::Get(), args, cwd, env);
}

E2eResult E2eTest::RunTarget(const E2eTarget& target, const std::vector<std::string>& args,
                             const fs::path& cwd,
                             const std::vector<std::pair<std::string, std::string>>& env) {
  return RunCommand(target, {}, args, cwd, env);
}

E2eResult E2eTest::RunTavrinWithIdleConsole(
    const std::vector<std::string>& args, const fs::path& cwd,
    const std::vector<std::pair<std::string, std::string>>& env, int limit_seconds) {
  // A FIFO opened for reading and writing by the shell that becomes tavrin:
  // tavrin itself holds its only writer, so a read on it waits for ever.
  TempDir fifo_dir;
  const std::string fifo = (fifo_dir.path() / "console").string();
  ChildCommand make_fifo;
  make_fifo.argv = {"mkfifo", fifo};
  ChildExit made;
  if (!Env::Default()->RunChild(make_fifo, &made) || made.signaled || made.code != 0) {
    ADD_FAILURE() << "cannot make the FIFO " << fifo;
    return {};
  }
  // timeout kills the whole process group, the client tavrin started included.
  const std::vector<std::string> prefix = {
      "timeout", "-s", "KILL", std::to_string(limit_seconds),
      "sh",      "-c", "console=$1; shift; exec \"$@\" 0<>\"$console\"",
      "sh",      fifo};
  E2eResult result = RunCommand(E2eTarget::Get(), prefix, args, cwd, env);
  EXPECT_NE(result.exit_code, 128 + 9) << "tavrin did not end within " << limit_seconds << " s";
  return result;
}

E2eResult E2eTest::RunCommand(const E2eTarget& target, const std::vector<std::string>& prefix,
                              const std::vector<std::string>& args, const fs::path& cwd,
                              const std::vector<std::pair<std::string, std::string>>& env) {
  Env& system = *Env::Default();
  TempDir capture;
  auto out = system.CreateOutput((capture.path() / "stdout").string());
  auto err = system.CreateOutput((capture.path() / "stderr").string());
  if (!out || !err) {
    ADD_FAILURE() << "cannot create capture files";
    return {};
  }

  ChildCommand command;
  command.argv = prefix;
  command.argv.insert(command.argv.end(), target.launcher.begin(), target.launcher.end());
  command.argv.push_back(PathFor(target, target.binary));
  command.argv.insert(command.argv.end(), args.begin(), args.end());
  command.stdout_file = out.get();
  command.stderr_file = err.get();
  command.working_directory = (cwd.empty() ? dir() : cwd).string();
  command.environment = env;
  // A password in the environment of whoever runs the tests is not the test's.
  if (std::none_of(env.begin(), env.end(), [](const auto& v) { return v.first == "TAVRIN_PASSWORD"; }))
    command.environment.emplace_back("TAVRIN_PASSWORD", "");

  E2eResult result;
  ChildExit exit;
  if (!system.RunChild(command, &exit)) {
    ADD_FAILURE() << "cannot start " << command.argv[0] << ": " << system.ErrorText(system.LastError());
    return result;
  }
  out->Close();
  err->Close();
  EXPECT_FALSE(exit.signaled) << "tavrin was killed by signal " << exit.code;
  result.exit_code = exit.code;
  result.out = ReadFile(capture.path() / "stdout");
  result.err = ReadFile(capture.path() / "stderr");
  // The Windows console ends lines in CR LF; everything else is compared as is.
  if (target.windows) {
    result.out = FoldCrLf(std::move(result.out));
    result.err = FoldCrLf(std::move(result.err));
  }
  return result;
}

std::map<std::string, std::string> E2eTest::LogFiles(const fs::path& where) {
  std::map<std::string, std::string> logs;
  static const std::regex kName(R"(Tavrin_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.log)");
  for (const auto& entry : fs::directory_iterator(where)) {
    std::string name = entry.path().filename().string();
    if (std::regex_match(name, kName)) logs[name] = ReadFile(entry.path());
  }
  return logs;
}

std::string E2eTest::MaskElapsed(std::string out) {
  static const std::regex kElapsed(R"(\nTime elapsed :\d+ secs\n)");
  return std::regex_replace(out, kElapsed, "\nTime elapsed :N secs\n");
}

}  // namespace tavrin::test

#include "e2e/stand_in.h"

#include <algorithm>
#include <cstdlib>
#include <regex>

namespace tavrin::test {

namespace fs = std::filesystem;

namespace {

// The build's stand-in directory, or the one the environment names (the
// Windows leg points it at its sqlplus.exe).
std::string StandInDir() {
  const char* dir = std::getenv("TAVRIN_E2E_STAND_IN_DIR");
  return dir && *dir ? dir : TAVRIN_STAND_IN_DIR;
}

std::vector<std::string> Matching(const fs::path& where, const std::regex& pattern) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(where)) {
    std::string name = entry.path().filename().string();
    if (std::regex_match(name, pattern)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

EnvVars StandInTest::WithStandIn(EnvVars extra) {
  // Under Wine the Windows search path takes WINEPATH, not the Linux PATH.
  if (E2eTarget::Get().windows) {
    std::string dir = StandInDir();
    extra.emplace_back("WINEPATH", dir.starts_with('/') ? Path(dir) : dir);
  } else {
    const char* path = std::getenv("PATH");
    extra.emplace_back("PATH", StandInDir() + (path && *path ? std::string(":") + path : ""));
  }
  return extra;
}

fs::path StandInTest::StandInProgram() {
  std::string dir = StandInDir();
  if (dir.starts_with("Z:")) {  // a Windows path of a host directory, under Wine
    dir.erase(0, 2);
    std::replace(dir.begin(), dir.end(), '\\', '/');
  }
  return fs::path(dir) / (E2eTarget::Get().windows ? "sqlplus.exe" : "sqlplus");
}

EnvVars StandInTest::WithoutSqlPlus(const fs::path& empty_dir) {
  if (E2eTarget::Get().windows) return {{"WINEPATH", Path(empty_dir)}};
  return {{"PATH", empty_dir.string()}};
}

std::string StandInTest::StandInOutput(const std::string& login, const fs::path& script,
                                       const std::string& content, const std::string& password) {
  std::string text = "argv[0]=sqlplus\nargv[1]=-L\nargv[2]=" + login + "\nargv[3]=@" +
                     Path(script) +
                     (login.starts_with('/') ? "\ninput=0 bytes"
                                             : "\nEnter password: \npassword=" + password) +
                     "\n--- script ---\n" + content;
  return AsStandInWrites(text);
}

std::string StandInTest::AsStandInWrites(const std::string& lf) {
  if (!E2eTarget::Get().windows) return lf;
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  return crlf;
}

std::vector<std::pair<std::string, std::string>> StandInTest::OutputLogs(const fs::path& where) {
  static const std::regex kName(R"(import\d+_\d{4}_\d\d_\d\d_\d\d_\d\d_\d\d\.olog)");
  std::vector<std::pair<std::string, std::string>> logs;
  for (const std::string& name : Matching(where, kName)) {
    logs.emplace_back(name, ReadFile(where / name));
  }
  // By sequence number, so that import10_ follows import9_.
  std::stable_sort(logs.begin(), logs.end(), [](const auto& a, const auto& b) {
    return std::stoi(a.first.substr(6)) < std::stoi(b.first.substr(6));
  });
  return logs;
}

std::string StandInTest::OnlyLog(const fs::path& where) {
  auto logs = LogFiles(where);
  EXPECT_EQ(logs.size(), 1u);
  return logs.empty() ? "" : logs.begin()->second;
}

std::vector<std::string> StandInTest::BackupDirectories(const fs::path& where) {
  static const std::regex kName(R"(Processed_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d)");
  return Matching(where, kName);
}

std::vector<std::string> StandInTest::Entries(const fs::path& where) {
  std::vector<std::string> names = Matching(where, std::regex(".*"));
  std::erase(names, "tavrin.lock");
  return names;
}

}  // namespace tavrin::test

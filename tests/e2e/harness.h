#pragma once
// Runs the built tavrin program as a separate process and hands back what it
// printed. The same scenarios run against the Linux binary and, under Wine,
// against tavrin.exe: the target comes from the environment
// (TAVRIN_E2E_BINARY, TAVRIN_E2E_LAUNCHER, TAVRIN_E2E_WINDOWS=1) and expected
// texts are written with Sep() and Path() so that they hold for both.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tavrin::test {

struct E2eTarget {
  std::vector<std::string> launcher;  // runs the binary, e.g. the Wine loader
  std::string binary;
  bool windows = false;

  /// The program under test.
  static const E2eTarget& Get();
  /// The Linux build of this tree, run directly: what the Windows build is
  /// compared with.
  static const E2eTarget& Native();
};

struct E2eResult {
  int exit_code = -1;
  std::string out;  // standard output; from Windows, CR LF folded to LF
  std::string err;  // standard error, likewise
};

class E2eTest : public ::testing::Test {
 protected:
  /// Runs tavrin with `args` in `cwd` (the test's directory by default).
  E2eResult RunTavrin(const std::vector<std::string>& args,
                      const std::filesystem::path& cwd = {},
                      const std::vector<std::pair<std::string, std::string>>& env = {});
  /// Runs `target` likewise.
  E2eResult RunTarget(const E2eTarget& target, const std::vector<std::string>& args,
                      const std::filesystem::path& cwd = {},
                      const std::vector<std::pair<std::string, std::string>>& env = {});
  /// Runs tavrin likewise, with its standard input a pipe that stays open and
  /// is never written, like a console nobody types at: a run that reads it
  /// never ends. After `limit_seconds` it is killed, which fails the test.
  E2eResult RunTavrinWithIdleConsole(
      const std::vector<std::string>& args, const std::filesystem::path& cwd = {},
      const std::vector<std::pair<std::string, std::string>>& env = {}, int limit_seconds = 120);

  /// The test's own scratch directory (the working directory of runs).
  const std::filesystem::path& dir() const { return dir_.path(); }

  /// The path separator of the program under test, as text.
  static std::string Sep();
  /// A host path as the program under test sees and prints it.
  static std::string Path(const std::filesystem::path& host);

  /// The banner every run starts with.
  static std::string Banner();
  /// The program path as argv[0] shows it.
  static std::string Program();
  /// The short usage line.
  static std::string ShortUsage();

  /// The log files (Tavrin_*.log) in `where`, by name.
  static std::map<std::string, std::string> LogFiles(const std::filesystem::path& where);

  /// `out` with the elapsed-time figure replaced by "N", so that a run that
  /// crosses a second boundary still compares equal.
  static std::string MaskElapsed(std::string out);

 private:
  E2eResult RunCommand(const E2eTarget& target, const std::vector<std::string>& prefix,
                       const std::vector<std::string>& args, const std::filesystem::path& cwd,
                       const std::vector<std::pair<std::string, std::string>>& env);

  TempDir dir_;
};

/// The line after a failure that gives the system's reason: `posix` from the
/// Linux build; from Windows the one `output` holds, as the system words it
/// (never empty).
std::string ReasonLine(const std::string& output, const std::string& posix);

}  // namespace tavrin::test

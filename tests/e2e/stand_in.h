#pragma once
// End-to-end runs with the test stand-in for sqlplus on the search path, and
// what that stand-in writes into an output log.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "e2e/harness.h"

namespace tavrin::test {

using EnvVars = std::vector<std::pair<std::string, std::string>>;

class StandInTest : public E2eTest {
 protected:
  /// Variables that put the stand-in first on the search path, plus `extra`
  /// (e.g. TAVRIN_STAND_IN_EXIT) for the stand-in itself.
  static EnvVars WithStandIn(EnvVars extra = {});
  /// The stand-in program file itself (a host path).
  static std::filesystem::path StandInProgram();
  /// Variables under which no sqlplus can be found: the search path is
  /// `empty_dir` alone.
  static EnvVars WithoutSqlPlus(const std::filesystem::path& empty_dir);

  /// The bytes the stand-in writes to its standard output when run as Tavrin
  /// runs it on `script` (a host path), with the logon argument `login`
  /// (user@host), for a script holding `content` (on Windows with every LF
  /// written as CR LF). `password` is what it recorded about the password it
  /// read: "matched", "wrong" or "unchecked"; for a logon with no password
  /// (`login` "/" or "/@<host>"), that its input was empty.
  static std::string StandInOutput(const std::string& login, const std::filesystem::path& script,
                                   const std::string& content,
                                   const std::string& password = "unchecked");
  /// `lf` as the stand-in writes it: on Windows in text mode, where every LF
  /// byte goes out as CR LF.
  static std::string AsStandInWrites(const std::string& lf);

  /// The output logs (import*.olog) in `where`: name -> bytes, by sequence
  /// number.
  static std::vector<std::pair<std::string, std::string>> OutputLogs(
      const std::filesystem::path& where);

  /// The text of the one log file in `where` (a failure when there is not
  /// exactly one).
  static std::string OnlyLog(const std::filesystem::path& where);

  /// The names of the backup directories (Processed_*) in `where`.
  static std::vector<std::string> BackupDirectories(const std::filesystem::path& where);

  /// The names of the entries of `where`, sorted, but for the output
  /// directory's lock file, which stays between runs.
  static std::vector<std::string> Entries(const std::filesystem::path& where);
};

/// A batch's folders, made empty: the inputs, the output directory, and the
/// working directory where logs and backups go, apart from the inputs.
class BatchFoldersTest : public StandInTest {
 protected:
  void SetUp() override {
    for (const auto* folder : {&in_, &out_, &work_}) std::filesystem::create_directories(*folder);
  }

  const std::filesystem::path in_ = dir() / "in";
  const std::filesystem::path out_ = dir() / "out";
  const std::filesystem::path work_ = dir() / "work";
};

}  // namespace tavrin::test

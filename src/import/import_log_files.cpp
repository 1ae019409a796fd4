#include "import/import_log_files.h"

#include <string>
#include <vector>

#include "import/time_stamped_names.h"
#include "platform/path.h"

namespace tavrin {
namespace {

// Each value is one argument of its own: a blank, a quote or an "@" in the
// user, password or host can never turn into a further argument.
std::vector<std::string> SqlPlusArguments(const RunSettings& s, const std::string& script) {
  return {"sqlplus",
          s.user.value_or("") + "/" + s.password.value_or("") + "@" + s.host.value_or(""),
          "@" + script};
}

// Runs one script; false when its output log cannot be made or sqlplus
// cannot be started.
bool ImportScript(Run& run, const std::string& directory, const std::string& name, int sequence) {
  Diagnostics& diag = run.diag;
  const std::string script = JoinPath(directory, name);
  const std::string log_path = OutputLogPath(directory, sequence, run.env.UtcNow());

  auto output_log = run.env.CreateOutput(log_path);
  if (!output_log) {
    const int error = run.env.LastError();
    diag.out() << "\nError: Could not create the output log file. Error number :(" << error
               << ").\n"
               << std::flush;
    diag.log("\nError: Could not create the output log file. Error number :(%d).\n", error);
    return false;
  }

  diag.out() << "\n\nImporting data from file == " << name << "== to SQL*PLUS started ..."
             << std::endl;
  diag.log("\n\nImporting data from file %s to SQL*PLUS...\n", name);

  ChildSpec child;
  child.argv = SqlPlusArguments(run.settings, script);
  // Only the child's standard output goes to the log; its input and errors,
  // and everything we print ourselves, stay on the console.
  child.stdout_file = output_log.get();
  ChildExit exit;
  if (!run.env.RunChild(child, &exit)) {
    const int error = run.env.LastError();
    diag.out() << "\nError executing the sqlplus command. Process will be aborted. Error number :("
               << error << ").\n"
               << std::flush;
    diag.log("\nError executing the sqplus command. Process will be aborted. Error number :(%d).\n",
             error);
    return false;
  }
  output_log->Close();

  // Failing statements inside a script do not count against it, but a
  // sqlplus that could not run the script at all must not pass unseen.
  if (exit.signaled || exit.code != 0) {
    const int code = exit.signaled ? -exit.code : exit.code;
    diag.out() << "\n[ImportLogFiles] Warning: SQL*PLUS ended with exit code " << code
               << " for file " << name << ". Check its output log " << log_path << ".\n"
               << std::flush;
    diag.log(
        "\n[ImportLogFiles] Warning: SQL*PLUS ended with exit code %d for file %s. Check its "
        "output log %s.\n",
        code, name, log_path);
  }
  return true;
}

}  // namespace

bool ImportLogFiles(Run& run) {
  Diagnostics& diag = run.diag;
  const RunSettings& s = run.settings;

  if (s.parse && run.files.empty()) {
    diag.out() << "\n\n[ImportLogFiles] Warning: Parse file list found empty. Skipped the Import..."
               << std::endl
               << std::endl;
    diag.log(
        "\n\n[ImportLogFiles] Warning: Parse file list found empty. Skipped the Import...\n\n");
    return true;
  }
  if (!s.user || !s.password) {
    diag.out() << "\n\n[ImportLogFiles] Error: UserName/Password not specified. Import abandoned..."
               << std::endl
               << std::endl;
    diag.log("\n\n[ImportLogFiles]Error: UserName/Password not specified. Import abandoned...\n\n");
    return false;
  }

  const std::string directory = s.output_directory.value_or("");
  const std::string pattern = JoinPath(directory, "*.tvr");
  std::vector<std::string> scripts;
  if (!run.env.ListMatches(pattern, &scripts)) {
    diag.err() << "\n[ImportLogFiles]Error: Unable to find import files in the directory" << pattern
               << std::endl;
    diag.log("\n[ImportLogFiles]Error: Unable to find import files in the directory %s", pattern);
    return false;
  }

  int sequence = 0;
  for (const std::string& name : scripts) {
    if (!ImportScript(run, directory, name, ++sequence)) return false;
  }
  return true;
}

}  // namespace tavrin

#include "import/move_processed_files.h"

#include <vector>

#include "import/time_stamped_names.h"
#include "platform/path.h"

namespace tavrin {
namespace {

// Moves one file without replacing anything and reports the outcome; a
// refusal names the source directory.
void MoveOne(Run& run, const std::string& source_prefix, const std::string& destination_prefix,
             const std::string& name) {
  Diagnostics& diag = run.diag;
  if (run.env.MoveNoReplace(source_prefix + name, destination_prefix + name)) {
    diag.out() << "\tMoved File :" << name << " to " << destination_prefix << std::endl;
    diag.log("\tMoved File :%s to %s\n", name, destination_prefix);
  } else {
    diag.err() << "\n[EnumerateAndMoveFiles] Error: Unable to move file " << source_prefix
               << std::endl;
    diag.log("\n[EnumerateAndMoveFiles] Error: Unable to move file %s\n", source_prefix);
  }
}

std::string WithSeparator(std::string directory) {
  directory.push_back(kPathSeparator);
  return directory;
}

}  // namespace

void EnumerateAndMoveFiles(Run& run, std::string source_prefix, std::string destination_prefix,
                           std::string_view pattern) {
  Diagnostics& diag = run.diag;
  std::vector<std::string> names;
  if (!run.env.ListMatches(source_prefix + std::string(pattern), &names)) {
    diag.err() << "[GroupFileList]Error: Unable to find " << pattern << " files in "
               << source_prefix << " directory." << std::endl;
    diag.log("[GroupFileList] Error: Unable to find %s in %s directory.\n", pattern, source_prefix);
    return;
  }
  for (const std::string& name : names) MoveOne(run, source_prefix, destination_prefix, name);
}

bool MoveProcessedFiles(Run& run) {
  Diagnostics& diag = run.diag;
  if (run.files.empty()) {
    diag.out() << "\n[MoveProcessedFiles] Warning: File list found empty. No files moved."
               << std::endl;
    diag.log("\n[MoveProcessedFiles] Warning: File list found empty. No files moved.\n");
    return true;
  }

  const std::string backup = BackupDirectoryName(run.env.UtcNow());
  diag.out() << "\n\nMoving processed files to backup directory " << backup << std::endl;
  // An existing directory fails too: a second run in the same second must
  // not mix its files into the first run's backup.
  if (!run.env.MakeDirectory(backup)) {
    diag.err() << "\n[MoveProcessedFiles] Error : Could not create backup directory. Process is "
                  "aborted"
               << std::endl;
    diag.log(
        "\n[MoveProcessedFiles] Error : Could not create backup directory %s. Process is "
        "aborted\n",
        backup);
    return false;
  }

  diag.out() << "\n Moving INPUT SQL Files..." << std::endl;
  diag.log("\nMoving INPUT SQL files...\n");
  const std::string destination = WithSeparator(backup);
  const std::string input = WithSeparator(run.settings.input_directory.value_or(""));
  for (const InputFile& file : run.files) MoveOne(run, input, destination, file.name);

  const std::string output = WithSeparator(run.settings.output_directory.value_or(""));
  EnumerateAndMoveFiles(run, output, destination, "*.tvr");
  EnumerateAndMoveFiles(run, output, destination, "*.olog");
  return true;
}

}  // namespace tavrin

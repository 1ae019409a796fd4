#include "grouping/group_file_list.h"

#include <algorithm>
#include <map>

#include "import/backup_record.h"
#include "platform/path.h"
#include "text/digits.h"
#include "text/line_reader.h"

namespace tavrin {
namespace {

// Whether the file's first "COLUMN identity_" line declares identity_1.
// Reads no further than that line. False with `*readable` false when the
// file cannot be read.
bool StartsGroup(Env& env, const std::string& path, bool* readable) {
  auto file = env.OpenForReading(path);
  *readable = file != nullptr;
  if (!file) return false;
  LineReader reader(std::move(file));
  std::string_view line;
  while (reader.Next(&line)) {
    if (line.find("COLUMN identity_") == std::string_view::npos) continue;
    constexpr std::string_view kPrefix = "identity_";
    std::size_t at = line.find(kPrefix);  // may stand before "COLUMN"
    std::size_t digits = at + kPrefix.size();
    std::string_view number = line.substr(digits, SkipDigits(line, digits) - digits);
    return number == "1";
  }
  *readable = !reader.failed();
  return false;
}

// Takes out of `names` the files that an earlier run processed and could not
// move: the backup record keeps their steps open, with their bytes. A file of
// such a name with other bytes came later and stays.
void LeaveOutUnmoved(Run& run, std::vector<std::string>* names) {
  const std::string& input = *run.settings.input_directory;
  if (!run.settings.output_directory) return;
  BackupRecord record(run.env, JoinPath(*run.settings.output_directory, kBackupRecordName));
  if (!record.Read()) return;
  std::map<std::string, const BackupStep*> open;
  for (std::size_t index : record.OpenSteps()) {
    const BackupStep& step = record.steps()[index];
    if (step.kind == BackupStep::kInput && step.directory == JoinPath(input, ""))
      open.emplace(step.name, &step);
  }
  if (open.empty()) return;
  Diagnostics& diag = run.diag;
  std::erase_if(*names, [&](const std::string& name) {
    const auto step = open.find(name);
    if (step == open.end()) return false;
    const std::string path = JoinPath(input, name);
    std::int64_t size = -1;
    std::string sha256;
    // Unread, a file of a record of the earlier form is taken as the one.
    if (step->second->size >= 0 &&
        (!SizeAndHash(run.env, path, &size, &sha256) || size != step->second->size ||
         sha256 != step->second->sha256))
      return false;
    diag.Say(diag.out(),
             "\n[GroupFileList] Warning: %s was processed by an earlier run but could not be "
             "moved to %s; it is left out. Move it there by hand.\n",
             path, step->second->backup);
    run.errors_reported = true;
    return true;
  });
}

}  // namespace

Grouping GroupFileList(Run& run, bool backup_finished) {
  Diagnostics& diag = run.diag;
  const std::string& input = *run.settings.input_directory;
  InputFileList& files = run.files;

  diag.log("[GroupFileList] Searching for input SQL files in the directory %s\n", input);
  std::vector<std::string> names;
  if (!run.env.ListMatches(JoinPath(input, "*.sql"), &names)) {
    // The earlier run's backup took the last of them.
    if (backup_finished && run.env.LastError() == 0) return Grouping::kNothing;
    diag.err() << "[GroupFileList]Error: Unable to find target sql files in " << input
               << " directory." << std::endl;
    diag.log("[GroupFileList] Error: Unable to find target sql files in %s directory.\n", input);
    return Grouping::kFailed;
  }
  const std::size_t found = names.size();
  LeaveOutUnmoved(run, &names);
  if (names.empty() && found > 0) return Grouping::kNothing;
  files.clear();
  files.reserve(names.size());
  for (std::string& name : names) {
    diag.log("\t[GroupFileList] Found File : %s\n", name);
    files.push_back(InputFile{std::move(name), 0});
  }
  // Byte order of the names (std::string compares as unsigned characters).
  std::sort(files.begin(), files.end(),
            [](const InputFile& a, const InputFile& b) { return a.name < b.name; });

  diag.log("\n[GroupFileList]************Starting to group the files******************\n");
  diag.out() << "\nGrouping Started" << std::endl;

  std::int32_t group = 0;
  for (InputFile& file : files) {
    const std::string path = JoinPath(input, file.name);
    bool readable = false;
    bool starts_group = StartsGroup(run.env, path, &readable);
    if (!readable) {
      const int error = run.env.LastError();
      diag.err() << "Error: Unable to open file " << path << std::endl;
      diag.log("[GroupFileList] Error: Unable to open input file :%s\n", path);
      diag.Reason(diag.err(), run.env, error);
      return Grouping::kFailed;
    }
    diag.out() << "Grouping file:" << file.name;
    diag.log("\t[GroupFileList] Grouping File :%s", path);
    if (starts_group) ++group;
    file.group = group;
    diag.out() << "\tGroup :" << file.group << std::endl;
    diag.log("\t[GroupFileList] Group:%d\n", file.group);
  }
  diag.log("[GroupFileList]************Grouping Ends******************\n");

  if (run.settings.discard_last_group) {
    diag.out() << "\n\nDiscard group option was turned on due to detection of a possible "
                  "lingering transaction. \nDiscarding Group Number:"
               << group << std::endl << std::endl;
    diag.log("\n\nDiscard group option was turned on due to detection of a possible lingering "
             "transaction.\n Discarding Group Number: %d\n\n",
             group);
    while (!files.empty() && files.back().group == group) {
      run.discarded_files.insert(run.discarded_files.begin(), std::move(files.back()));
      files.pop_back();
    }
  }
  return Grouping::kGrouped;
}

}  // namespace tavrin

#include "grouping/group_file_list.h"

#include <algorithm>

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

}  // namespace

bool GroupFileList(Run& run) {
  Diagnostics& diag = run.diag;
  const std::string& input = *run.settings.input_directory;
  InputFileList& files = run.files;

  diag.log("[GroupFileList] Searching for input SQL files in the directory %s\n", input);
  std::vector<std::string> names;
  if (!run.env.ListMatches(JoinPath(input, "*.sql"), &names)) {
    diag.err() << "[GroupFileList]Error: Unable to find target sql files in " << input
               << " directory." << std::endl;
    diag.log("[GroupFileList] Error: Unable to find target sql files in %s directory.\n", input);
    return false;
  }
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
      return false;
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
    while (!files.empty() && files.back().group == group) files.pop_back();
  }
  return true;
}

}  // namespace tavrin

#include "import/backup_record.h"

namespace tavrin {

bool WriteBackupRecord(Env& env, const std::string& path, const BackupRecord& record) {
  std::string bytes = record.input_prefix + "\n" + record.destination_prefix + "\n";
  for (const std::string& name : record.names) bytes.append(name).push_back('\n');
  const std::string temporary = path + ".new";
  auto file = env.CreateOutput(temporary);
  if (!file) return false;
  const bool ok = file->Append(bytes) && file->Sync() && file->Close() &&
                  env.RenameReplacing(temporary, path);
  if (!ok) {
    file->Close();
    env.RemoveFile(temporary);
  }
  return ok;
}

bool ReadBackupRecord(Env& env, const std::string& path, BackupRecord* record) {
  auto file = env.OpenForReading(path);
  if (!file) return false;
  std::string bytes;
  char buffer[4096];
  for (long long n; (n = file->Read(buffer, sizeof buffer)) != 0;) {
    if (n < 0) return false;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  std::vector<std::string> lines;
  for (std::size_t from = 0, end; (end = bytes.find('\n', from)) != std::string::npos;
       from = end + 1)
    lines.push_back(bytes.substr(from, end - from));
  if (lines.size() < 2 || !bytes.ends_with('\n')) return false;
  record->input_prefix = lines[0];
  record->destination_prefix = lines[1];
  record->names.assign(lines.begin() + 2, lines.end());
  return true;
}

}  // namespace tavrin

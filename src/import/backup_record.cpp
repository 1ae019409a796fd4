#include "import/backup_record.h"

#include <algorithm>
#include <charconv>

#include "import/sha256.h"
#include "platform/path.h"

namespace tavrin {
namespace {

constexpr std::string_view kHeader = "tavrin-backup 2";
constexpr const char* kKinds[] = {"input", "script", "log", "remove"};

std::string Escape(std::string_view field) {
  std::string escaped;
  for (char c : field) {
    switch (c) {
      case '%': escaped += "%25"; break;
      case '\t': escaped += "%09"; break;
      case '\r': escaped += "%0D"; break;
      case '\n': escaped += "%0A"; break;
      default: escaped.push_back(c);
    }
  }
  return escaped;
}

std::string Unescape(std::string_view field) {
  std::string plain;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '%' && i + 2 < field.size()) {
      unsigned value = 0;
      const auto [end, error] = std::from_chars(field.data() + i + 1, field.data() + i + 3, value, 16);
      if (error == std::errc() && end == field.data() + i + 3) {
        plain.push_back(static_cast<char>(value));
        i += 2;
        continue;
      }
    }
    plain.push_back(field[i]);
  }
  return plain;
}

std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string> fields;
  for (std::size_t from = 0;;) {
    const std::size_t tab = line.find('\t', from);
    fields.push_back(Unescape(line.substr(from, tab - from)));
    if (tab == std::string_view::npos) return fields;
    from = tab + 1;
  }
}

bool Number(std::string_view text, std::int64_t* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && *value >= 0;
}

// A step line's fields, or false when they make none.
bool ParseStep(const std::vector<std::string>& f, BackupStep* step) {
  const auto kind = std::find(std::begin(kKinds), std::end(kKinds), f[0]);
  if (kind == std::end(kKinds) || f.size() < 4) return false;
  step->kind = static_cast<BackupStep::Kind>(kind - std::begin(kKinds));
  step->backup = f[1];
  step->directory = f[2];
  step->name = f[3];
  switch (step->kind) {
    case BackupStep::kInput:
      // "-" for what a record of the earlier form did not know.
      if (f.size() != 6) return false;
      if (f[4] == "-" && f[5] == "-") return true;
      return Number(f[4], &step->size) && f[5].size() == 64 && (step->sha256 = f[5], true);
    case BackupStep::kScript:
      return f.size() == 5 && (step->tag = f[4], true);
    default:
      return f.size() == 4;
  }
}

}  // namespace

std::string BackupStep::destination() const { return JoinPath(backup, name); }

bool SizeAndHash(Env& env, const std::string& path, std::int64_t* size, std::string* sha256) {
  auto file = env.OpenForReading(path);
  if (!file) return false;
  std::vector<char> buffer(1 << 16);
  Sha256 hash;
  std::int64_t total = 0;
  for (;;) {
    const long long n = file->Read(buffer.data(), buffer.size());
    if (n < 0) return false;
    if (n == 0) break;
    hash.Update(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    total += n;
  }
  *size = total;
  *sha256 = hash.HexDigest();
  return true;
}

bool BackupRecord::Read() {
  steps_.clear();
  present_ = whole_ = failed_ = false;
  read_error_ = 0;
  auto file = env_.OpenForReading(path_);
  if (!file) return false;
  present_ = true;
  std::string bytes;
  char buffer[4096];
  for (long long n; (n = file->Read(buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      read_error_ = env_.LastError();
      return false;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  whole_ = bytes.empty() || bytes.ends_with('\n');
  // Whole lines only: a last line without its line end was cut short.
  std::vector<std::string_view> lines;
  const std::string_view all(bytes);
  for (std::size_t from = 0, end; (end = all.find('\n', from)) != std::string_view::npos;
       from = end + 1)
    lines.push_back(all.substr(from, end - from));

  if (lines.empty() || lines[0] != kHeader) {
    // The earlier form: both prefixes, then the bare names.
    if (lines.size() < 2 || !whole_) return false;
    whole_ = false;  // appends to it would be names: it is written anew first
    std::string backup(lines[1]);
    if (!backup.empty()) backup.pop_back();  // the separator
    for (std::size_t i = 2; i < lines.size(); ++i)
      steps_.push_back(BackupStep::Of(BackupStep::kInput, backup, std::string(lines[0]),
                                      std::string(lines[i])));
    return true;
  }
  std::size_t i = 1;
  for (; i < lines.size() && lines[i] != "end"; ++i) {
    BackupStep step;
    if (!ParseStep(Fields(lines[i]), &step)) return false;
    steps_.push_back(std::move(step));
  }
  if (i == lines.size()) {  // no whole list: written by no run of ours
    steps_.clear();
    return false;
  }
  for (++i; i < lines.size(); ++i) {
    const std::vector<std::string> f = Fields(lines[i]);
    std::int64_t number = 0;
    // A mark that cannot be read strikes nothing out: its step is done again.
    if (f.size() != 2 || !Number(f[1], &number) || number < 1 ||
        static_cast<std::size_t>(number) > steps_.size())
      continue;
    BackupStep& step = steps_[static_cast<std::size_t>(number) - 1];
    if (f[0] == "done") step.done = true;
    if (f[0] == "failed") step.failed = true;
  }
  return true;
}

std::vector<std::size_t> BackupRecord::OpenSteps() const {
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < steps_.size(); ++i)
    if (!steps_[i].done) open.push_back(i);
  return open;
}

std::vector<LeftOutFile> BackupRecord::FailedInputs() const {
  std::vector<LeftOutFile> failed;
  for (const BackupStep& step : steps_)
    if (step.kind == BackupStep::kInput && step.failed && !step.done)
      failed.push_back(LeftOutFile{step.directory, step.name, step.backup, step.size, step.sha256});
  return failed;
}

std::vector<std::string> BackupRecord::BackupDirectories() const {
  std::vector<std::string> directories;
  for (const BackupStep& step : steps_)
    if (!step.backup.empty() &&
        std::find(directories.begin(), directories.end(), step.backup) == directories.end())
      directories.push_back(step.backup);
  return directories;
}

bool BackupRecord::Write() {
  if (check_ && !check_()) {
    failed_ = true;
    return false;
  }
  std::string bytes(kHeader);
  bytes.push_back('\n');
  std::string marks;
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    const BackupStep& step = steps_[i];
    bytes += kKinds[step.kind];
    for (const std::string* field : {&step.backup, &step.directory, &step.name})
      bytes.append("\t").append(Escape(*field));
    if (step.kind == BackupStep::kInput && step.size < 0) bytes.append("\t-\t-");
    if (step.kind == BackupStep::kInput && step.size >= 0)
      bytes.append("\t").append(std::to_string(step.size)).append("\t").append(step.sha256);
    if (step.kind == BackupStep::kScript) bytes.append("\t").append(Escape(step.tag));
    bytes.push_back('\n');
    if (step.failed) marks.append("failed\t").append(std::to_string(i + 1)).push_back('\n');
    if (step.done) marks.append("done\t").append(std::to_string(i + 1)).push_back('\n');
  }
  bytes.append("end\n").append(marks);
  const std::string temporary = path_ + ".new";
  auto file = env_.CreateOutput(temporary);
  if (!file) return failed_ = true, false;
  const bool ok = file->Append(bytes) && file->Sync() && file->Close() &&
                  env_.RenameReplacing(temporary, path_) && env_.SyncEntry(path_);
  if (!ok) {
    file->Close();
    env_.RemoveFile(temporary);
    // What is on the disk (no record, or an earlier one) is not this list:
    // no mark may be appended to it.
    failed_ = true;
    return false;
  }
  present_ = whole_ = true;
  failed_ = false;
  return true;
}

bool BackupRecord::Append(const char* mark, const std::vector<std::size_t>& indexes) {
  if (indexes.empty()) return true;
  for (std::size_t i : indexes) (mark[0] == 'd' ? steps_[i].done : steps_[i].failed) = true;
  if (failed_ || !present_) return false;
  // A line cut short would swallow the first appended one: write it whole.
  if (!whole_) return failed_ = !Write(), !failed_;
  std::string bytes;
  for (std::size_t i : indexes) bytes.append(mark).append("\t").append(std::to_string(i + 1)) += '\n';
  auto file = env_.OpenForAppending(path_);
  const bool ok = file && file->Append(bytes) && file->Sync() && file->Close();
  if (!ok) {
    // Part of a line may have reached the disk.
    whole_ = false;
    failed_ = true;
  }
  return ok;
}

bool BackupRecord::Strike(const std::vector<std::size_t>& indexes) { return Append("done", indexes); }

bool BackupRecord::MarkFailed(const std::vector<std::size_t>& indexes) {
  return Append("failed", indexes);
}

bool BackupRecord::Remove() {
  if (!env_.RemoveFile(path_)) return false;
  present_ = false;
  return true;
}

}  // namespace tavrin

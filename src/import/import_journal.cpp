#include "import/import_journal.h"

#include <cstdio>

namespace tavrin {
namespace {

constexpr std::size_t kHashDigits = 64;
constexpr std::size_t kTimeChars = 20;  // YYYY-MM-DDTHH:MM:SSZ
constexpr std::size_t kReadBytes = 64 * 1024;

const char* StateWord(JournalState state) {
  switch (state) {
    case JournalState::kStarted: return "started";
    case JournalState::kEnded: return "ended";
    case JournalState::kMoved: return "moved";
  }
  return "";
}

bool IsHash(std::string_view text) {
  if (text.size() != kHashDigits) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool IsTime(std::string_view text) {
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

// Splits one line (without its line end) into its hash and mark; false when
// it is not a journal line.
bool ParseLine(std::string_view line, std::string_view* hash, JournalMark* mark) {
  if (line.ends_with('\r')) line.remove_suffix(1);  // an editor's CR LF
  if (line.size() <= kHashDigits || line[kHashDigits] != ' ') return false;
  *hash = line.substr(0, kHashDigits);
  if (!IsHash(*hash)) return false;
  line.remove_prefix(kHashDigits + 1);
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return false;
  const std::string_view word = line.substr(0, blank);
  if (word == "started") mark->state = JournalState::kStarted;
  else if (word == "ended") mark->state = JournalState::kEnded;
  else if (word == "moved") mark->state = JournalState::kMoved;
  else return false;
  line.remove_prefix(blank + 1);
  if (line.size() <= kTimeChars + 1 || line[kTimeChars] != ' ') return false;
  if (!IsTime(line.substr(0, kTimeChars))) return false;
  mark->time = line.substr(0, kTimeChars);
  return true;  // the rest is the name, for people only
}

// A name is for the reader of the journal; a line end inside it would tear
// its line in two.
std::string OneLine(std::string_view name) {
  std::string safe(name);
  for (char& c : safe)
    if (c == '\n' || c == '\r') c = '?';
  return safe.empty() ? "?" : safe;
}

}  // namespace

std::string JournalTime(const DateTime& utc) {
  char text[64];
  const int size = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.year,
                                 utc.month, utc.day, utc.hour, utc.minute, utc.second);
  return std::string(text, size > 0 ? static_cast<std::size_t>(size) : 0);
}

bool ImportJournal::Open() {
  // Made before anything else: a journal that cannot be made must stop the
  // import before its first client.
  file_ = env_.OpenForAppending(path_);
  if (!file_) return Fail();
  return Read();
}

bool ImportJournal::OpenExisting() { return Read(); }

bool ImportJournal::Read() {
  auto file = env_.OpenForReading(path_);
  if (!file) return Fail();
  std::string bytes;
  std::string buffer(kReadBytes, '\0');
  for (;;) {
    const long long n = file->Read(buffer.data(), buffer.size());
    if (n < 0) {
      failure_ = "read error";
      failed_ = true;
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer.data(), static_cast<std::size_t>(n));
  }

  std::string_view rest = bytes;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
      // A line cut short by a crash: ignored, and ended before the next one.
      ++unreadable_;
      ends_open_ = true;
      break;
    }
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    std::string_view hash;
    JournalMark mark;
    if (!ParseLine(line, &hash, &mark)) {
      ++unreadable_;
      continue;
    }
    last_[std::string(hash)] = std::move(mark);
    lines_.emplace_back(line);
  }
  return true;
}

const JournalMark* ImportJournal::Find(const std::string& hash) const {
  auto found = last_.find(hash);
  return found == last_.end() ? nullptr : &found->second;
}

bool ImportJournal::Record(const std::string& hash, JournalState state, std::string_view name,
                           bool sync) {
  if (failed_) return false;
  if (!file_) {
    file_ = env_.OpenForAppending(path_);
    if (!file_) return Fail();
  }
  JournalMark mark{state, JournalTime(env_.UtcNow())};
  std::string line = hash + " " + StateWord(state) + " " + mark.time + " " + OneLine(name);
  const std::string bytes = (ends_open_ ? "\n" : "") + line + "\n";
  if (!file_->Append(bytes)) return Fail(file_->LastError());
  ends_open_ = false;
  if (sync && !file_->Sync()) return Fail(file_->LastError());
  lines_.push_back(std::move(line));
  last_[hash] = std::move(mark);
  return true;
}

bool ImportJournal::Withdraw() {
  if (lines_.empty()) return true;
  const std::string hash = lines_.back().substr(0, kHashDigits);
  lines_.pop_back();
  // The hash's mark is again its line before this one, if it has one.
  last_.erase(hash);
  for (auto line = lines_.rbegin(); line != lines_.rend(); ++line) {
    std::string_view line_hash;
    JournalMark mark;
    if (line->starts_with(hash) && ParseLine(*line, &line_hash, &mark)) {
      last_[hash] = std::move(mark);
      break;
    }
  }
  return Rewrite(lines_);
}

bool ImportJournal::Close() {
  bool ok = !failed_;
  if (file_) {
    if (ok && !file_->Sync()) ok = Fail(file_->LastError());
    if (!file_->Close() && ok) ok = Fail(file_->LastError());
    file_.reset();
  }
  return ok;
}

bool ImportJournal::DropMoved() {
  std::vector<std::string> kept;
  for (const std::string& line : lines_) {
    const JournalMark* mark = Find(line.substr(0, kHashDigits));
    if (mark && mark->state != JournalState::kMoved) kept.push_back(line);
  }
  if (kept.size() == lines_.size() && unreadable_ == 0) return Close();
  if (!Rewrite(kept)) return false;
  lines_ = std::move(kept);
  for (auto mark = last_.begin(); mark != last_.end();)
    mark = mark->second.state == JournalState::kMoved ? last_.erase(mark) : std::next(mark);
  return true;
}

bool ImportJournal::Rewrite(const std::vector<std::string>& lines) {
  // Whatever was appended is on the disk before the old file is replaced;
  // Windows cannot replace a file that is still open.
  if (!Close()) return false;
  const std::string temporary = path_ + ".new";
  auto file = env_.CreateOutput(temporary);
  if (!file) return Fail();
  std::string bytes;
  for (const std::string& line : lines) bytes.append(line).push_back('\n');
  bool ok = file->Append(bytes) || Fail(file->LastError());
  if (ok && !file->Sync()) ok = Fail(file->LastError());
  if (!file->Close() && ok) ok = Fail(file->LastError());
  if (ok && !env_.RenameReplacing(temporary, path_)) ok = Fail();
  if (!ok) {
    env_.RemoveFile(temporary);
    return false;
  }
  unreadable_ = 0;
  ends_open_ = false;
  return true;
}

bool ImportJournal::Fail() { return Fail(env_.LastError()); }

bool ImportJournal::Fail(int error) {
  if (!failed_) failure_ = env_.ErrorText(error);
  failed_ = true;
  return false;
}

}  // namespace tavrin

#include "import/import_journal.h"

#include <cstdio>

namespace tavrin {
namespace {

constexpr std::size_t kHashDigits = 64;
constexpr std::size_t kTimeChars = 20;  // YYYY-MM-DDTHH:MM:SSZ
constexpr std::size_t kReadBytes = 64 * 1024;
constexpr std::size_t kTagDigits = 16;
constexpr std::string_view kTagField = "group=";
constexpr std::size_t kIdDigits = 32;
constexpr std::string_view kIdField = "id=";
constexpr std::string_view kLogField = "log=";
constexpr std::string_view kFirstField = "first=";
constexpr std::string_view kNotAtomicField = "atomic=no";
constexpr std::size_t kNoImport = static_cast<std::size_t>(-1);

const char* StateWord(JournalState state) {
  switch (state) {
    case JournalState::kStarted: return "started";
    case JournalState::kEnded: return "ended";
    case JournalState::kMoved: return "moved";
    case JournalState::kUndone: return "undone";
  }
  return "";
}

bool IsLowerHex(std::string_view text) {
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool IsHash(std::string_view text) { return text.size() == kHashDigits && IsLowerHex(text); }

bool IsTime(std::string_view text) {
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

struct ParsedLine {
  std::string_view hash;
  std::string_view tag;  // empty when the line has none
  std::string_view id;   // empty when the line has none
  std::string_view log;
  std::string_view first;
  bool not_atomic = false;
  std::string_view name;
  JournalMark mark;
};

// Takes `field` and the word after it off the front of `line` when a blank
// follows them (the name comes last), storing the word in `*value`.
bool TakeField(std::string_view* line, std::string_view field, std::string_view* value) {
  if (!line->starts_with(field)) return false;
  const std::size_t blank = line->find(' ', field.size());
  if (blank == std::string_view::npos || blank == field.size() || blank + 1 == line->size())
    return false;
  *value = line->substr(field.size(), blank - field.size());
  line->remove_prefix(blank + 1);
  return true;
}

// Splits one line (without its line end) into its fields; false when it is
// not a journal line.
bool ParseLine(std::string_view line, ParsedLine* parsed) {
  if (line.ends_with('\r')) line.remove_suffix(1);  // an editor's CR LF
  if (line.size() <= kHashDigits || line[kHashDigits] != ' ') return false;
  parsed->hash = line.substr(0, kHashDigits);
  if (!IsHash(parsed->hash)) return false;
  line.remove_prefix(kHashDigits + 1);
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return false;
  const std::string_view word = line.substr(0, blank);
  JournalMark& mark = parsed->mark;
  if (word == "started") mark.state = JournalState::kStarted;
  else if (word == "ended") mark.state = JournalState::kEnded;
  else if (word == "moved") mark.state = JournalState::kMoved;
  else if (word == "undone") mark.state = JournalState::kUndone;
  else return false;
  line.remove_prefix(blank + 1);
  if (line.size() <= kTimeChars + 1 || line[kTimeChars] != ' ') return false;
  if (!IsTime(line.substr(0, kTimeChars))) return false;
  mark.time = line.substr(0, kTimeChars);
  line.remove_prefix(kTimeChars + 1);
  // The rest is the name, for people only, after the group tag if there is one.
  constexpr std::size_t kTagChars = kTagField.size() + kTagDigits;
  if (line.size() > kTagChars + 1 && line.starts_with(kTagField) && line[kTagChars] == ' ' &&
      IsLowerHex(line.substr(kTagField.size(), kTagDigits))) {
    parsed->tag = line.substr(kTagField.size(), kTagDigits);
    line.remove_prefix(kTagChars + 1);
  }
  constexpr std::size_t kIdChars = kIdField.size() + kIdDigits;
  if (line.size() > kIdChars + 1 && line.starts_with(kIdField) && line[kIdChars] == ' ' &&
      IsLowerHex(line.substr(kIdField.size(), kIdDigits))) {
    parsed->id = line.substr(kIdField.size(), kIdDigits);
    line.remove_prefix(kIdChars + 1);
  }
  // A started line's own fields, each in its place when it is there.
  std::string_view rest = line;
  if (TakeField(&rest, kLogField, &parsed->log)) line = rest;
  std::string_view first;
  rest = line;
  if (TakeField(&rest, kFirstField, &first) && first.size() == kTagDigits && IsLowerHex(first)) {
    parsed->first = first;
    line = rest;
  }
  if (line.size() > kNotAtomicField.size() + 1 && line.starts_with(kNotAtomicField) &&
      line[kNotAtomicField.size()] == ' ') {
    parsed->not_atomic = true;
    line.remove_prefix(kNotAtomicField.size() + 1);
  }
  parsed->name = line;
  return true;
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
  // An editor's UTF-8 byte-order mark is no part of the first line.
  if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    ParsedLine parsed;
    if (!ParseLine(line, &parsed)) {
      ++unreadable_;
      if (end == std::string_view::npos) {
        // A line cut short by a crash or a full disk: removed before the
        // next line is written, so that no line end can ever complete it.
        torn_ = true;
        intact_ = bytes.substr(0, bytes.size() - line.size());
        break;
      }
    } else {
      // A last line without its line end that still reads is used; the
      // next line written ends it first.
      ends_open_ = end == std::string_view::npos;
      lines_.emplace_back(line);
      Apply(lines_.size() - 1);
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return true;
}

bool ImportJournal::RemoveTornLine() {
  if (!torn_) return !failed_;
  if (!RewriteBytes(intact_)) return false;
  torn_ = false;
  intact_.clear();
  --unreadable_;
  return true;
}

void ImportJournal::Apply(std::size_t index) {
  ParsedLine line;
  ParseLine(lines_[index], &line);  // only journal lines are kept
  const std::string hash(line.hash);
  std::vector<std::size_t>& of_hash = imports_of_[hash];
  std::size_t owner = kNoImport;
  switch (line.mark.state) {
    case JournalState::kStarted:
      // A later import of the same hash and tag: an earlier one undone is
      // no longer held back.
      for (std::size_t i : of_hash)
        if (imports_[i].tag == line.tag) passed_[i] = true;
      owner = imports_.size();
      passed_.push_back(false);
      imports_.push_back({hash, std::string(line.tag), line.mark.time, {}, std::string(line.id),
                          false, false, std::string(line.log), std::string(line.first),
                          line.not_atomic, std::string(line.name), line.mark.time});
      of_hash.push_back(owner);
      break;
    case JournalState::kEnded:
    case JournalState::kUndone:
      for (auto i = of_hash.rbegin(); i != of_hash.rend(); ++i) {
        JournalImport& import = imports_[*i];
        const bool named = line.id.empty() ? import.tag == line.tag && import.id.empty()
                                           : import.id == line.id;
        if (named && import.ended.empty() && !import.undone) {
          if (line.mark.state == JournalState::kEnded) import.ended = line.mark.time;
          else import.undone = true;
          import.last = line.mark.time;
          owner = *i;
          break;
        }
      }
      break;
    case JournalState::kMoved:
      // What a copy of this hash and tag finds: the latest import of both,
      // else (and for a line without a tag) the first one by order.
      if (!line.tag.empty())
        for (auto i = of_hash.rbegin(); i != of_hash.rend() && owner == kNoImport; ++i)
          if (imports_[*i].tag == line.tag && !imports_[*i].moved && !imports_[*i].undone)
            owner = *i;
      for (auto i = of_hash.begin(); i != of_hash.end() && owner == kNoImport; ++i)
        if ((line.tag.empty() || imports_[*i].tag.empty()) && !imports_[*i].moved &&
            !imports_[*i].undone)
          owner = *i;
      if (owner != kNoImport) imports_[owner].moved = true;
      // Its group has left: an import of it that was undone is no longer
      // held back. Without a tag, that is every untagged import of its hash.
      if (line.tag.empty())
        for (std::size_t i : of_hash)
          if (imports_[i].tag.empty()) passed_[i] = true;
      // Its group has left with it: every import of its tag recorded so
      // far, whatever the bytes, is done with.
      if (!line.tag.empty())
        for (std::size_t i = 0; i < imports_.size(); ++i)
          if (imports_[i].tag == line.tag && !imports_[i].moved) {
            imports_[i].moved = true;
            passed_[i] = true;
            if (owner == kNoImport) owner = i;
          }
      break;
  }
  owner_.resize(lines_.size(), kNoImport);
  owner_[index] = owner;
  last_[hash] = std::move(line.mark);
}

void ImportJournal::Rebuild() {
  last_.clear();
  imports_.clear();
  imports_of_.clear();
  owner_.clear();
  passed_.clear();
  for (std::size_t i = 0; i < lines_.size(); ++i) Apply(i);
}

bool ImportJournal::HeldBack(std::size_t import_index) const {
  return import_index < imports_.size() && imports_[import_index].undone &&
         !passed_[import_index];
}

const JournalMark* ImportJournal::Find(const std::string& hash) const {
  auto found = last_.find(hash);
  return found == last_.end() ? nullptr : &found->second;
}

bool ImportJournal::Record(const std::string& hash, JournalState state, std::string_view name,
                           bool sync, std::string_view tag, std::string_view id,
                           const StartedFields& fields) {
  if (failed_ || !RemoveTornLine()) return false;
  if (!file_) {
    file_ = env_.OpenForAppending(path_);
    if (!file_) return Fail();
  }
  std::string line = hash + " " + StateWord(state) + " " + JournalTime(env_.UtcNow()) + " ";
  if (!tag.empty()) line.append(kTagField).append(tag).push_back(' ');
  if (!id.empty()) line.append(kIdField).append(id).push_back(' ');
  // A log name with a blank or a line end in it could not be read back.
  if (!fields.log.empty() && fields.log.find_first_of(" \r\n") == std::string_view::npos)
    line.append(kLogField).append(fields.log).push_back(' ');
  if (fields.first.size() == kTagDigits && IsLowerHex(fields.first))
    line.append(kFirstField).append(fields.first).push_back(' ');
  if (fields.not_atomic) line.append(kNotAtomicField).push_back(' ');
  line += OneLine(name);
  const std::string bytes = (ends_open_ ? "\n" : "") + line + "\n";
  if (!file_->Append(bytes)) return Fail(file_->LastError());
  ends_open_ = false;
  if (sync && !file_->Sync()) return Fail(file_->LastError());
  lines_.push_back(std::move(line));
  Apply(lines_.size() - 1);
  return true;
}

bool ImportJournal::Withdraw() {
  if (lines_.empty()) return true;
  lines_.pop_back();
  Rebuild();
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

bool ImportJournal::DropMoved(const std::unordered_set<std::string>* group_tags) {
  // Which imports stay. An undone import put nothing in the database: it
  // goes whenever the journal is rewritten, unless it is held back, with
  // its group still in the input directory.
  std::vector<bool> kept_import(imports_.size());
  for (std::size_t i = 0; i < imports_.size(); ++i) {
    const JournalImport& import = imports_[i];
    kept_import[i] = !import.moved &&
                     (!import.undone ||
                      (HeldBack(i) && (!group_tags || group_tags->count(import.tag) > 0)));
  }
  // By hash: whether an import stays, and whether one was moved away.
  std::unordered_map<std::string_view, std::pair<bool, bool>> imports;
  for (std::size_t i = 0; i < imports_.size(); ++i)
    (kept_import[i] ? imports[imports_[i].hash].first : imports[imports_[i].hash].second) = true;
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    bool keep;
    if (owner_[i] != kNoImport) {
      keep = kept_import[owner_[i]];
    } else {
      const auto [stays, moved] = imports[std::string_view(lines_[i]).substr(0, kHashDigits)];
      keep = stays || !moved;
    }
    if (keep) kept.push_back(lines_[i]);
  }
  if (kept.size() == lines_.size() && unreadable_ == 0) return Close();
  if (!Rewrite(kept)) return false;
  lines_ = std::move(kept);
  Rebuild();
  return true;
}

bool ImportJournal::Rewrite(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes.append(line).push_back('\n');
  if (!RewriteBytes(bytes)) return false;
  unreadable_ = 0;
  torn_ = false;
  intact_.clear();
  ends_open_ = false;
  return true;
}

bool ImportJournal::RewriteBytes(const std::string& bytes) {
  if (check_ && !check_()) {
    failed_ = true;
    failure_ = "The output directory's lock file was taken away";
    return false;
  }
  // Whatever was appended is on the disk before the old file is replaced;
  // Windows cannot replace a file that is still open.
  if (!Close()) return false;
  const std::string temporary = path_ + ".new";
  auto file = env_.CreateOutput(temporary);
  if (!file) return Fail();
  bool ok = file->Append(bytes) || Fail(file->LastError());
  if (ok && !file->Sync()) ok = Fail(file->LastError());
  if (!file->Close() && ok) ok = Fail(file->LastError());
  if (ok && !env_.RenameReplacing(temporary, path_)) ok = Fail();
  if (!ok) {
    env_.RemoveFile(temporary);
    return false;
  }
  return true;
}

bool ImportJournal::Fail() { return Fail(env_.LastError()); }

bool ImportJournal::Fail(int error) {
  if (!failed_) failure_ = env_.ErrorText(error);
  failed_ = true;
  return false;
}

CopyMatch CopyMatcher::Of(const JournalImport& import) {
  CopyMatch match;
  match.kind = import.ended.empty() ? CopyMatch::kCutShort : CopyMatch::kEnded;
  match.time = import.ended;
  match.tag = import.tag;
  match.id = import.id;
  match.log = import.log;
  match.not_atomic = import.not_atomic;
  return match;
}

CopyMatcher::CopyMatcher(const ImportJournal& journal) {
  for (const JournalImport& import : journal.imports()) {
    if (import.moved || import.undone) continue;
    of_hash_[import.hash].push_back(import);
    if (!import.tag.empty()) of_tag_[import.tag].push_back(import);
    if (!import.first.empty() && import.ended.empty()) open_of_first_[import.first] = import;
  }
}

CopyMatch CopyMatcher::Match(const std::string& hash, std::string_view tag,
                             std::string_view first) {
  const auto found = of_hash_.find(hash);
  static const std::vector<JournalImport> kNone;
  const std::vector<JournalImport>& imports = found == of_hash_.end() ? kNone : found->second;
  if (!tag.empty()) {
    for (auto import = imports.rbegin(); import != imports.rend(); ++import)
      if (import->tag == tag) return Of(*import);
    // Its tag under other bytes only: this one found none above. Only an
    // import that ended went in as other bytes; one still open may have
    // put nothing in the database.
    if (const auto other = of_tag_.find(std::string(tag)); other != of_tag_.end()) {
      bool ended = false;
      const JournalImport* open = nullptr;  // the latest one still open
      for (const JournalImport& import : other->second) {
        if (import.ended.empty()) open = &import;
        else ended = true;
      }
      CopyMatch match;
      match.kind = CopyMatch::kOtherBytes;
      if (!open) return match;
      match = Of(*open);
      match.kind = CopyMatch::kOtherCutShort;
      match.hash = open->hash;
      match.other_ended = ended;
      return match;
    }
    // No import of its tag, and an open one of its first file: the same
    // group before a file joined it, held back by a run that stopped or
    // could not tell whether it landed. It may be partly in the database.
    if (const auto open = open_of_first_.find(std::string(first)); !first.empty() &&
                                                                   open != open_of_first_.end()) {
      CopyMatch match = Of(open->second);
      match.kind = CopyMatch::kOtherCutShort;
      match.hash = open->second.hash;
      return match;
    }
  }
  // By order: the k-th copy that gets here, the k-th import left.
  std::size_t k = by_order_[hash]++;
  for (const JournalImport& import : imports) {
    if (!tag.empty() && !import.tag.empty()) continue;
    if (k-- == 0) return Of(import);
  }
  return {};
}


}  // namespace tavrin

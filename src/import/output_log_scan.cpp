#include "import/output_log_scan.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tavrin {
namespace {

// One byte more than a first error may keep, so that a CR right after the
// 200th byte is still seen as the line's own end and dropped.
constexpr std::size_t kHeadBytes = kFirstErrorBytes + 1;

constexpr std::size_t kReadBytes = 64 * 1024;

bool IsCounted(std::string_view line) {
  return line.starts_with("ERROR at line ") || line == "ERROR:" || line.starts_with("SP2-");
}

bool IsMessage(std::string_view line) {
  return line.starts_with("ORA-") || line.starts_with("PLS-") || line.starts_with("SP2-") ||
         line.starts_with("TNS-");
}

bool IsLogonWarning(std::string_view line) {
  return line.starts_with("ORA-28002") || line.starts_with("ORA-28011");
}

// The ORA- codes of a session that ended or a connection that broke, as
// ranges of their five digits.
constexpr struct {
  int from, to;
} kLostConnectionCodes[] = {
    {28, 28},       {603, 603},     {1012, 1013},   {1033, 1034},   {1089, 1089},
    {1092, 1092},   {2396, 2396},   {3106, 3106},   {3111, 3115},   {3127, 3127},
    {3135, 3135},   {12150, 12699}, {25400, 25409},
};

}  // namespace

bool IsLostConnectionLine(std::string_view line) {
  if (line.starts_with("TNS-")) return true;
  if (!line.starts_with("ORA-") || line.size() < 9) return false;
  int code = 0;
  for (char c : line.substr(4, 5)) {
    if (c < '0' || c > '9') return false;
    code = code * 10 + (c - '0');
  }
  if (line.size() > 9 && line[9] >= '0' && line[9] <= '9') return false;
  for (const auto& range : kLostConnectionCodes)
    if (code >= range.from && code <= range.to) return true;
  return false;
}

void OutputLogScanner::CountForClasses(std::string_view line) {
  if (result_.class_count++ == 0) first_class_counted_ = line;
}

void OutputLogScanner::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const void* found = std::memchr(bytes.data(), '\n', bytes.size());
    const std::size_t end =
        found ? static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data())
              : bytes.size();
    if (head_.size() < kHeadBytes)
      head_.append(bytes.substr(0, std::min(end, kHeadBytes - head_.size())));
    line_length_ += end;
    if (!found) return;
    EndLine();
    bytes.remove_prefix(end + 1);
  }
}

OutputLogErrors OutputLogScanner::Finish() {
  if (line_length_ > 0) EndLine();
  if (pending_error_) CountForClasses("ERROR:");
  pending_error_ = false;
  if (!have_message_) result_.first_error = first_counted_;
  if (!have_class_message_) result_.class_first_error = first_class_counted_;
  return result_;
}

void OutputLogScanner::EndLine() {
  std::string_view line = head_;
  // Windows output logs end their lines in CR LF. Only a CR that is the
  // line's last byte is held here when the whole line is.
  if (line_length_ == line.size() && line.ends_with('\r')) line.remove_suffix(1);
  line = line.substr(0, std::min(line.size(), kFirstErrorBytes));

  // An "ERROR:" is a logon warning when the line after it says so.
  bool logon_warning = false;
  if (pending_error_) {
    pending_error_ = false;
    logon_warning = IsLogonWarning(line);
    if (!logon_warning) CountForClasses("ERROR:");
  }
  if (IsCounted(line)) {
    if (result_.count == 0) first_counted_ = line;
    ++result_.count;
    if (line == "ERROR:") pending_error_ = true;
    else CountForClasses(line);
  }
  if (!have_message_ && IsMessage(line)) {
    result_.first_error = line;
    have_message_ = true;
  }
  if (!have_class_message_ && !logon_warning && IsMessage(line)) {
    result_.class_first_error = line;
    have_class_message_ = true;
  }
  if (IsLostConnectionLine(line)) result_.lost_connection = true;
  head_.clear();
  line_length_ = 0;
}

bool ScanOutputLog(Env& env, const std::string& path, OutputLogErrors* errors) {
  auto file = env.OpenForReading(path);
  if (!file) return false;
  OutputLogScanner scanner;
  std::vector<char> buffer(kReadBytes);
  for (;;) {
    long long n = file->Read(buffer.data(), buffer.size());
    if (n < 0) return false;
    if (n == 0) break;
    scanner.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
  *errors = scanner.Finish();
  return true;
}

}  // namespace tavrin

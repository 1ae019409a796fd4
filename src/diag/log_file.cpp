#include "diag/log_file.h"

#include <cstdio>

#include "platform/unique_output.h"

namespace tavrin {

bool LogFile::init_log(const std::string& base, Env& env) {
  Close();
  DateTime t = env.LocalNow();
  std::string stem(base.size() + 32, '\0');
  int size = std::snprintf(stem.data(), stem.size(), "%s_%d-%02d-%02d_%02d-%02d-%02d",
                           base.c_str(), t.year, t.month, t.day, t.hour, t.minute, t.second);
  stem.resize(static_cast<std::size_t>(size > 0 ? size : 0));
  // Written in binary: a "\n" in a message is one line-feed byte.
  file_ = CreateUniqueOutput(env, stem, ".log", &path_);
  write_failed_ = false;
  if (!file_) {
    // The standard error-report form: message, ": ", reason, line end.
    errors_ << "init_log() failed to open " << base << "\n"
            << ": " << env.ErrorText(env.LastError()) << "\n"
            << "\tLog file: " << path_ << std::endl;
    return false;
  }
  return true;
}

int LogFile::WriteArgs(std::string_view format, std::span<const LogArg> args) {
  if (!file_) return 0;
  buffer_.clear();
  FormatLog(format, args, &buffer_, errors_);
  if (file_->Append(buffer_)) return static_cast<int>(buffer_.size());
  ReportWriteFailure();
  return 0;
}

// A full disk would otherwise cost the log silently, message after message.
void LogFile::ReportWriteFailure() {
  if (write_failed_) return;
  write_failed_ = true;
  errors_ << "\n[Tavrin] Warning: Unable to write to the log file " << path_
          << ". The log may be incomplete." << std::endl;
}

void LogFile::Close() {
  // Some file systems report a lost write only when the file is closed.
  if (file_ && !file_->Close()) ReportWriteFailure();
  file_.reset();
}

}  // namespace tavrin

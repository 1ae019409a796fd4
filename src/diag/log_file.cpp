#include "diag/log_file.h"

#include <cerrno>
#include <cstring>

namespace tavrin {

bool LogFile::init_log(const std::string& base, const char* mode, Env& env) {
  Close();
  DateTime t = env.LocalNow();
  std::string name(base.size() + 32, '\0');
  int size = std::snprintf(name.data(), name.size(), "%s_%d-%02d-%02d_%02d-%02d-%02d.log",
                           base.c_str(), t.year, t.month, t.day, t.hour, t.minute, t.second);
  name.resize(static_cast<std::size_t>(size > 0 ? size : 0));
  file_ = std::fopen(name.c_str(), mode);
  if (!file_) {
    int error = errno;
    // The standard error-report form: message, ": ", reason, line end.
    errors_ << "init_log() failed to open " << base << "\n"
            << ": " << std::strerror(error) << std::endl;
    return false;
  }
  return true;
}

int LogFile::WriteArgs(std::string_view format, std::span<const LogArg> args) {
  if (!file_) return 0;
  buffer_.clear();
  FormatLog(format, args, &buffer_, errors_);
  return static_cast<int>(std::fwrite(buffer_.data(), 1, buffer_.size(), file_));
}

void LogFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace tavrin

#include "grouping/line_reader.h"

namespace tavrin {
namespace {
constexpr std::size_t kChunk = 1 << 20;
}

bool LineReader::Next(std::string_view* line) {
  for (;;) {
    std::size_t newline = buffer_.find('\n', start_ + scanned_);
    if (newline != std::string::npos) {
      std::size_t end = newline;
      if (end > start_ && buffer_[end - 1] == '\r') --end;
      *line = std::string_view(buffer_).substr(start_, end - start_);
      start_ = newline + 1;
      scanned_ = 0;
      return true;
    }
    if (at_end_) {
      if (start_ >= buffer_.size()) return false;
      *line = std::string_view(buffer_).substr(start_);
      start_ = buffer_.size();
      scanned_ = 0;
      return true;
    }
    // Keep the unfinished line, drop what was handed out, read on.
    buffer_.erase(0, start_);
    start_ = 0;
    scanned_ = buffer_.size();
    std::size_t old_size = buffer_.size();
    buffer_.resize(old_size + kChunk);
    long long n = file_->Read(buffer_.data() + old_size, kChunk);
    if (n <= 0) {
      buffer_.resize(old_size);
      at_end_ = true;
      failed_ = n < 0;
    } else {
      buffer_.resize(old_size + static_cast<std::size_t>(n));
    }
  }
}

}  // namespace tavrin

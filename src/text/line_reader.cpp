#include "text/line_reader.h"

#include <cstring>

namespace tavrin {
namespace {
constexpr std::size_t kFirstBuffer = 64 << 10;
constexpr std::size_t kMinRead = 32 << 10;
}  // namespace

void LineReader::MakeRoom() {
  // Move the unfinished line to the front, and grow when it fills the buffer.
  std::size_t kept = end_ - start_;
  if (start_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + start_, kept);
    start_ = 0;
    end_ = kept;
  }
  if (capacity_ - end_ >= kMinRead) return;
  std::size_t capacity = capacity_ == 0 ? kFirstBuffer : capacity_ * 2;
  std::unique_ptr<char[]> bigger(new char[capacity]);
  if (kept > 0) std::memcpy(bigger.get(), buffer_.get(), kept);
  buffer_ = std::move(bigger);
  capacity_ = capacity;
}

bool LineReader::Next(std::string_view* line) {
  for (;;) {
    const char* data = buffer_.get();
    std::size_t from = start_ + scanned_;
    const void* found = from < end_ ? std::memchr(data + from, '\n', end_ - from) : nullptr;
    if (found) {
      std::size_t newline = static_cast<std::size_t>(static_cast<const char*>(found) - data);
      std::size_t end = newline;
      if (end > start_ && data[end - 1] == '\r') --end;
      *line = std::string_view(data + start_, end - start_);
      start_ = newline + 1;
      scanned_ = 0;
      return true;
    }
    if (at_end_) {
      if (start_ >= end_) return false;
      *line = std::string_view(data + start_, end_ - start_);
      start_ = end_;
      scanned_ = 0;
      return true;
    }
    scanned_ = end_ - start_;
    MakeRoom();
    long long n = file_->Read(buffer_.get() + end_, capacity_ - end_);
    if (n <= 0) {
      at_end_ = true;
      failed_ = n < 0;
    } else {
      end_ += static_cast<std::size_t>(n);
    }
  }
}

}  // namespace tavrin

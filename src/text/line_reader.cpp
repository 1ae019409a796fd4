#include "text/line_reader.h"

#include <algorithm>
#include <cstring>

namespace tavrin {
namespace {
constexpr std::size_t kFirstBuffer = 64 << 10;
constexpr std::size_t kMinRead = 32 << 10;
// A storage's room may be the rest of what an earlier file left of a block.
constexpr std::size_t kMinStorageRead = 16 << 10;
}  // namespace

LineReader::~LineReader() {
  if (storage_ && buffer_) storage_->Used(end_);
}

void LineReader::MakeRoomInStorage() {
  if (buffer_ && capacity_ - end_ >= kMinStorageRead) return;
  // Bytes handed out stay where they are; the unfinished line moves to the
  // new room, which may start where it already is.
  const std::size_t kept = end_ - start_;
  if (buffer_) storage_->Used(start_);
  const std::span<char> room = storage_->Room(kept + kMinStorageRead);
  if (room.size() < kept + kMinStorageRead) {
    storage_ = nullptr;
    return MoveToOwnBuffer(std::max(kFirstBuffer, 2 * kept + kMinRead));
  }
  if (kept > 0) std::memmove(room.data(), buffer_ + start_, kept);
  buffer_ = room.data();
  capacity_ = room.size();
  start_ = 0;
  end_ = kept;
}

void LineReader::MoveToOwnBuffer(std::size_t capacity) {
  const std::size_t kept = end_ - start_;
  std::unique_ptr<char[]> bigger(new char[capacity]);
  if (kept > 0) std::memcpy(bigger.get(), buffer_ + start_, kept);
  own_ = std::move(bigger);
  buffer_ = own_.get();
  capacity_ = capacity;
  start_ = 0;
  end_ = kept;
}

void LineReader::MakeRoom() {
  if (storage_) return MakeRoomInStorage();
  // Move the unfinished line to the front, and grow when it fills the buffer.
  std::size_t kept = end_ - start_;
  if (start_ > 0) {
    std::memmove(buffer_, buffer_ + start_, kept);
    start_ = 0;
    end_ = kept;
  }
  if (capacity_ - end_ >= kMinRead) return;
  MoveToOwnBuffer(capacity_ == 0 ? kFirstBuffer : capacity_ * 2);
}

bool LineReader::Next(std::string_view* line) {
  for (;;) {
    const char* data = buffer_;
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
    long long n = file_->Read(buffer_ + end_, capacity_ - end_);
    if (n <= 0) {
      at_end_ = true;
      failed_ = n < 0;
    } else {
      end_ += static_cast<std::size_t>(n);
    }
  }
}

}  // namespace tavrin

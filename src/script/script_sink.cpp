#include "script/script_sink.h"

#include <cstring>

namespace tavrin {
namespace {
constexpr std::size_t kFlushSize = 1 << 20;
// Most scripts are small; the buffer doubles from this as a script grows.
constexpr std::size_t kFirstCapacity = 1 << 16;
}

char* ScriptSink::Extend(std::size_t size) {
  if (capacity_ - size_ < size) {
    std::size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_;
    while (capacity - size_ < size) capacity *= 2;
    std::unique_ptr<char[]> bigger(new char[capacity]);
    if (size_ > 0) std::memcpy(bigger.get(), buffer_.get(), size_);
    buffer_ = std::move(bigger);
    capacity_ = capacity;
  }
  char* at = buffer_.get() + size_;
  size_ += size;
  return at;
}

void ScriptSink::Line(std::string_view a, std::string_view b, std::string_view c) {
  if (size_ >= kFlushSize) FlushBeforeLastLine();
  last_line_ = size_;
  char* at = Extend(a.size() + b.size() + c.size() + 2);
  for (std::string_view part : {a, b, c}) {
    if (part.empty()) continue;
    std::memcpy(at, part.data(), part.size());
    at += part.size();
  }
  at[0] = '\r';
  at[1] = '\n';
}

void ScriptSink::Text(std::string_view text) {
  last_line_ = size_;
  if (!text.empty()) std::memcpy(Extend(text.size()), text.data(), text.size());
}

void ScriptSink::DropLastLine(std::size_t line_size) {
  // Only ever the line written last, which is still here.
  if (size_ - last_line_ == line_size) size_ = last_line_;
}

void ScriptSink::FlushBeforeLastLine() {
  if (ok_ && !file_->Append(std::string_view(buffer_.get(), last_line_))) Failed();
  std::memmove(buffer_.get(), buffer_.get() + last_line_, size_ - last_line_);
  size_ -= last_line_;
  last_line_ = 0;
}

bool ScriptSink::Close() {
  if (ok_ && !file_->Append(std::string_view(buffer_.get(), size_))) Failed();
  size_ = 0;
  last_line_ = 0;
  if (!file_->Close() && ok_) Failed();
  file_.reset();
  return ok_;
}

void ScriptSink::Failed() {
  ok_ = false;
  error_ = file_->LastError();
}

void ScriptSink::Abandon() {
  file_.reset();
  size_ = 0;
  last_line_ = 0;
}

}  // namespace tavrin

#include "script/script_sink.h"

namespace tavrin {
namespace {
constexpr std::size_t kFlushSize = 1 << 20;
}

void ScriptSink::Line(std::string_view a, std::string_view b, std::string_view c) {
  if (pending_.size() >= kFlushSize) FlushBeforeLastLine();
  last_line_ = pending_.size();
  pending_.append(a).append(b).append(c).append("\r\n");
}

void ScriptSink::Text(std::string_view text) {
  last_line_ = pending_.size();
  pending_.append(text);
}

void ScriptSink::DropLastLine(std::size_t line_size) {
  // Only ever the line written last, which is still here.
  if (pending_.size() - last_line_ == line_size) pending_.resize(last_line_);
}

void ScriptSink::FlushBeforeLastLine() {
  if (ok_ && !file_->Append(std::string_view(pending_).substr(0, last_line_))) ok_ = false;
  pending_.erase(0, last_line_);
  last_line_ = 0;
}

bool ScriptSink::Close() {
  if (ok_ && !file_->Append(pending_)) ok_ = false;
  pending_.clear();
  last_line_ = 0;
  if (!file_->Close()) ok_ = false;
  return ok_;
}

}  // namespace tavrin

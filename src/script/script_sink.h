#pragma once
// The bytes of a script on their way to its file. Lines end in CR LF on
// every system. The last line written stays in memory until the next one,
// so the writer can take back a line it has just written. One sink serves
// the scripts of a whole run in turn, and keeps its buffer between them.

#include <memory>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace tavrin {

class ScriptSink {
 public:
  ScriptSink() = default;
  explicit ScriptSink(std::unique_ptr<OutputFile> file) : file_(std::move(file)) {}

  /// Starts the next script, in `file`.
  void Open(std::unique_ptr<OutputFile> file) {
    file_ = std::move(file);
    ok_ = true;
    error_ = 0;
  }
  bool is_open() const { return file_ != nullptr; }

  /// Writes one line: the parts, then CR LF.
  void Line(std::string_view a, std::string_view b = {}, std::string_view c = {});
  /// Writes text with no line end.
  void Text(std::string_view text);

  /// Takes back the last line written; it is exactly `line` + CR LF.
  void DropLastLine(std::size_t line_size);

  /// Writes what is left and closes the file. False when any write or the
  /// close failed: the script on disk is then not complete.
  bool Close();
  /// The system's error number for the first write or close that failed.
  int error() const { return error_; }

  /// Closes the file without writing what is left.
  void Abandon();

 private:
  void FlushBeforeLastLine();
  // The first failed write or close: what follows is not written.
  void Failed();
  // Room for `size` more bytes at the end of the buffer.
  char* Extend(std::size_t size);

  std::unique_ptr<OutputFile> file_;
  // The bytes not yet written, gathered so that the file gets large writes.
  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t last_line_ = 0;  // where the last line starts in the buffer
  bool ok_ = true;
  int error_ = 0;
};

}  // namespace tavrin

#pragma once
// Reads a file as bytes, one line at a time. A line ends at LF; a CR right
// before that LF belongs to the line end, any other CR to the line. A last
// line without LF is still a line. So a file gives the same lines whether it
// was written on Windows or on Linux.

#include <memory>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace tavrin {

class LineReader {
 public:
  explicit LineReader(std::unique_ptr<ReadableFile> file) : file_(std::move(file)) {}

  /// Stores the next line (valid until the next call) and returns true, or
  /// returns false at the end of the file or on a read error.
  bool Next(std::string_view* line);

  /// True when reading stopped because of a read error.
  bool failed() const { return failed_; }

 private:
  // Makes room for at least one more read after the unfinished line.
  void MakeRoom();

  std::unique_ptr<ReadableFile> file_;
  std::unique_ptr<char[]> buffer_;  // left uninitialised: only read bytes are looked at
  std::size_t capacity_ = 0;
  std::size_t start_ = 0;    // first byte of the next line
  std::size_t end_ = 0;      // one past the last byte read
  std::size_t scanned_ = 0;  // bytes from start_ already known to hold no LF
  bool at_end_ = false;
  bool failed_ = false;
};

}  // namespace tavrin

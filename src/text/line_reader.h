#pragma once
// Reads a file as bytes, one line at a time. A line ends at LF; a CR right
// before that LF belongs to the line end, any other CR to the line. A last
// line without LF is still a line. So a file gives the same lines whether it
// was written on Windows or on Linux.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace tavrin {

/// Memory that a LineReader reads into when its lines must outlive the read:
/// the bytes of a line stay where they were read until the storage says
/// otherwise.
class LineStorage {
 public:
  virtual ~LineStorage() = default;
  /// At least `bytes` bytes to read into, which may start right after the
  /// bytes last given to Used(); or none, and the reader reads the rest of
  /// its file into a buffer of its own.
  virtual std::span<char> Room(std::size_t bytes) = 0;
  /// The reader will never write the first `bytes` bytes of the last room
  /// again; the next room starts after them.
  virtual void Used(std::size_t bytes) = 0;
};

class LineReader {
 public:
  explicit LineReader(std::unique_ptr<ReadableFile> file) : file_(std::move(file)) {}
  /// Reads into `storage` as long as it gives room. A line read there stays
  /// where it is as long as the storage keeps its memory, after the reader
  /// and after later calls; a line read after the storage gave no room is
  /// valid until the next call, as without one.
  LineReader(std::unique_ptr<ReadableFile> file, LineStorage& storage)
      : file_(std::move(file)), storage_(&storage) {}
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  /// Stores the next line and returns true, or returns false at the end of
  /// the file or on a read error. The line is valid until the next call, or
  /// as long as the storage's memory when it was read into the storage.
  bool Next(std::string_view* line);

  /// True when reading stopped because of a read error.
  bool failed() const { return failed_; }

 private:
  // Makes room for at least one more read after the unfinished line.
  void MakeRoom();
  // The same in the storage: the lines before the unfinished one stay put.
  void MakeRoomInStorage();
  // Moves the unfinished line into a new buffer of its own of `capacity`.
  void MoveToOwnBuffer(std::size_t capacity);

  std::unique_ptr<ReadableFile> file_;
  LineStorage* storage_ = nullptr;
  std::unique_ptr<char[]> own_;  // left uninitialised: only read bytes are looked at
  char* buffer_ = nullptr;       // own_, or the storage's room
  std::size_t capacity_ = 0;
  std::size_t start_ = 0;    // first byte of the next line
  std::size_t end_ = 0;      // one past the last byte read
  std::size_t scanned_ = 0;  // bytes from start_ already known to hold no LF
  bool at_end_ = false;
  bool failed_ = false;
};

}  // namespace tavrin

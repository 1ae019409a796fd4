#include "batchgen/batch_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace batchgen {
namespace {

constexpr std::size_t kFlushAt = 1 << 20;

}  // namespace

BatchWriter::BatchWriter(std::string directory, std::string line_end)
    : directory_(std::move(directory)), line_end_(std::move(line_end)) {
  buffer_.reserve(kFlushAt + 4096);
}

BatchWriter::~BatchWriter() { Close(); }

void BatchWriter::NewFile(bool starts_group) {
  Close();
  next_starts_group_ = next_starts_group_ || starts_group;
}

void BatchWriter::Line(std::string_view text) {
  // After a failure the figures still advance, so the shapes' loops end.
  if (!file_ && error_.empty()) Open();
  if (file_) {
    buffer_ += text;
    buffer_ += line_end_;
  }
  const std::uint64_t size = text.size() + line_end_.size();
  file_bytes_ += size;
  group_bytes_ += size;
  stats_.bytes += size;
  stats_.lines += 1;
  stats_.largest_group_bytes = std::max(stats_.largest_group_bytes, group_bytes_);
  if (buffer_.size() >= kFlushAt) Flush();
}

bool BatchWriter::Finish(std::string* error) {
  Close();
  *error = error_;
  return error_.empty();
}

void BatchWriter::Open() {
  char name[32];
  std::snprintf(name, sizeof name, "audit_%06llu.sql",
                static_cast<unsigned long long>(stats_.files + 1));
  path_ = directory_ + "/" + name;
  file_ = std::fopen(path_.c_str(), "wb");
  if (!file_) {
    Fail("cannot create " + path_);
    return;
  }
  stats_.files += 1;
  file_bytes_ = 0;
  if (next_starts_group_) {
    stats_.groups += 1;
    group_bytes_ = 0;
    next_starts_group_ = false;
  }
}

void BatchWriter::Flush() {
  if (file_ && !buffer_.empty() &&
      std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
    Fail("cannot write " + path_);
  buffer_.clear();
}

void BatchWriter::Close() {
  if (!file_) {
    buffer_.clear();
    return;
  }
  Flush();
  if (std::fclose(file_) != 0) Fail("cannot close " + path_);
  file_ = nullptr;
  file_bytes_ = 0;
}

void BatchWriter::Fail(const std::string& what) {
  if (error_.empty()) error_ = what + ": " + std::strerror(errno);
}

}  // namespace batchgen

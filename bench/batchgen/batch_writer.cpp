#include "batchgen/batch_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace batchgen {
namespace {

constexpr std::size_t kFlushAt = 1 << 20;

// What a server may leave after a closing ";" before the line end.
constexpr std::array<std::string_view, 5> kAfterSemicolon = {" ", "\t", "  \t", "\r", " \r"};

// Keeps the noise's numbers apart from the rows' numbers of the same seed.
constexpr std::uint64_t kNoiseSalt = 0x5EED0F7A11B1A4C5ull;

}  // namespace

BatchWriter::BatchWriter(std::string directory, LineEnds ends)
    : directory_(std::move(directory)), ends_(std::move(ends)), noise_(ends_.seed ^ kNoiseSalt) {
  buffer_.reserve(kFlushAt + 4096);
}

BatchWriter::~BatchWriter() { Close(); }

void BatchWriter::NewFile(bool starts_group) {
  Close();
  next_starts_group_ = next_starts_group_ || starts_group;
}

void BatchWriter::Line(std::string_view text) {
  std::string noisy;
  if (ends_.blanks_after_semicolon && !text.empty() && text.back() == ';' && noise_.Chance(250)) {
    noisy = std::string(text) +
            std::string(kAfterSemicolon[noise_.Between(0, kAfterSemicolon.size() - 1)]);
    text = noisy;
  }
  // After a failure the figures still advance, so the shapes' loops end.
  if (!file_ && error_.empty()) Open();
  if (file_) {
    // A line's end is written when the next line comes or the file closes,
    // which knows whether it is the last.
    if (line_open_) buffer_ += ends_.each;
    buffer_ += text;
    line_open_ = true;
  }
  const std::uint64_t size = text.size() + ends_.each.size();
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
    line_open_ = false;
    return;
  }
  if (line_open_) {
    const std::string& end = ends_.last ? *ends_.last : ends_.each;
    buffer_ += end;
    // The figures counted the usual line end for this line.
    stats_.bytes = stats_.bytes - ends_.each.size() + end.size();
    group_bytes_ = group_bytes_ - ends_.each.size() + end.size();
    line_open_ = false;
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

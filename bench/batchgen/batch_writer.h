#pragma once
// Writes the lines of a batch into numbered input files (audit_000001.sql,
// ...; the zero padding makes name order the order of writing) and keeps the
// figures the benchmark reports.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "batchgen/random.h"

namespace batchgen {

struct BatchStats {
  std::uint64_t files = 0;
  std::uint64_t groups = 0;
  std::uint64_t lines = 0;
  std::uint64_t bytes = 0;
  std::uint64_t largest_group_bytes = 0;
};

/// How lines end. The defaults give every line, the last one of a file too,
/// the same `each` and nothing else.
struct LineEnds {
  std::string each = "\r\n";
  /// After the last line of each file instead of `each` ("" or "\r").
  std::optional<std::string> last;
  /// Puts blanks, tabs or a CR after some closing ";", drawn from its own
  /// numbers so that the rows stay those of the seed without them.
  bool blanks_after_semicolon = false;
  std::uint64_t seed = 0;
};

class BatchWriter {
 public:
  /// Files go into `directory`, which must exist.
  BatchWriter(std::string directory, LineEnds ends);
  ~BatchWriter();
  BatchWriter(const BatchWriter&) = delete;
  BatchWriter& operator=(const BatchWriter&) = delete;

  /// Ends the current file; the next line goes to a new one. With
  /// `starts_group` the new file is counted as the first of a new group
  /// (the content decides the real grouping: its first declaration must be
  /// identity_1 exactly then, and must not be otherwise).
  void NewFile(bool starts_group);

  /// Appends one line to the current file, opening it if needed.
  void Line(std::string_view text);

  /// Closes the last file. Returns false, with `*error` set, when any write
  /// failed on the way.
  bool Finish(std::string* error);

  std::uint64_t file_bytes() const { return file_bytes_; }
  std::uint64_t total_bytes() const { return stats_.bytes; }
  const BatchStats& stats() const { return stats_; }

 private:
  void Open();
  void Flush();
  void Close();
  void Fail(const std::string& what);

  std::string directory_;
  LineEnds ends_;
  Random noise_;
  bool line_open_ = false;  // the current file's last line still lacks its end
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string buffer_;
  std::uint64_t file_bytes_ = 0;
  std::uint64_t group_bytes_ = 0;
  bool next_starts_group_ = true;
  std::string error_;
  BatchStats stats_;
};

}  // namespace batchgen

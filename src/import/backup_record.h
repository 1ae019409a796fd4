#pragma once
// The backup's record of what it is about to do, kept in the output directory
// until every step is done. A backup cannot move a batch all at once: a run
// stopped half-way leaves part of a group behind, or a script whose journal
// lines then outlive it, and a new run would make a script of that part alone
// and import those rows a second time. So the backup lists every step on the
// disk before it takes the first, strikes each out once it is on the disk,
// and the next run finishes the rest before it reads any input.
//
// A text file of lines, each ended by a line end; fields are separated by a
// tab, and a field's `%`, tab, CR and LF are written as %25, %09, %0D, %0A:
//   tavrin-backup 2
//   input  <backup directory> <directory prefix> <name> <size> <sha256>
//   script <backup directory> <directory prefix> <name> <group tag, or empty>
//   log    <backup directory> <directory prefix> <name>
//   remove <empty>            <directory prefix> <name>
//   end
//   done   <step number>
//   failed <step number>
// The steps are numbered from 1 in their order; the list up to `end` is
// written whole (a temporary file, synced, renamed over the record). The
// `done` and `failed` lines are appended and synced: `done` strikes a step
// out, `failed` marks it tried and refused, still open. A last line without
// its line end was cut short by a stop and is ignored; the record is written
// whole again before anything is appended to it.
//
// A record of the earlier form (the input directory's prefix, the backup
// directory's prefix, then one bare input name per line) is read as input
// steps of unknown size and hash.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/env.h"

namespace tavrin {

/// The record's bare name. It matches none of *.sql, *.tvr and *.olog.
inline constexpr const char* kBackupRecordName = "tavrin-backup.pending";

struct BackupStep {
  enum Kind { kInput, kScript, kLog, kRemove } kind = kInput;
  std::string backup;     // the backup directory, without a final separator
  std::string directory;  // where the file is now: a prefix ending in the separator
  std::string name;       // its bare name
  std::int64_t size = -1;  // kInput: -1 when the record does not know it
  std::string sha256;      // kInput: empty when the record does not know it
  std::string tag;         // kScript: the group tag for its `moved` line
  bool done = false;       // struck out
  bool failed = false;     // tried and refused; still open

  /// A step of `kind`, open, with nothing else known.
  static BackupStep Of(Kind kind, std::string backup, std::string directory, std::string name) {
    BackupStep step;
    step.kind = kind;
    step.backup = std::move(backup);
    step.directory = std::move(directory);
    step.name = std::move(name);
    return step;
  }

  std::string path() const { return directory + name; }
  /// `backup` + the separator + `name`.
  std::string destination() const;
};

/// An input file that the backup tried to move and could not.
struct LeftOutFile {
  std::string directory;  // as BackupStep::directory
  std::string name;
  std::string backup;
  std::int64_t size = -1;
  std::string sha256;
};

class BackupRecord {
 public:
  BackupRecord(Env& env, std::string path) : env_(env), path_(std::move(path)) {}

  /// Reads the record. False when there is none or it cannot be read or
  /// holds no whole list of steps; `present()` tells the first case apart.
  bool Read();
  bool present() const { return present_; }
  /// After a Read that found the record: the system's error number when a
  /// read of it failed; 0 when it was read, whole list or not.
  int read_error() const { return read_error_; }

  /// Every step, in their order.
  const std::vector<BackupStep>& steps() const { return steps_; }
  std::vector<BackupStep>& steps() { return steps_; }
  /// The indexes of the steps not struck out.
  std::vector<std::size_t> OpenSteps() const;
  /// The input files whose steps are open and marked failed.
  std::vector<LeftOutFile> FailedInputs() const;
  /// Every backup directory that a step names, each once, in their order.
  std::vector<std::string> BackupDirectories() const;

  /// Replaces the steps, before Write.
  void Assign(std::vector<BackupStep> steps) { steps_ = std::move(steps); }
  /// Puts the steps on the disk whole (with their marks): a temporary file,
  /// synced, renamed over the record. False when it cannot.
  bool Write();
  /// Asked before each Write: false leaves the file as it is, and takes no
  /// further mark until a Write succeeds.
  void CheckBeforeRewrite(std::function<bool()> check) { check_ = std::move(check); }
  /// Strikes out the steps of `indexes`, or marks them failed, by one append
  /// that is synced before this returns. False when it cannot, or when the
  /// steps are not on the disk (no record read or written, or the last Write
  /// failed); the steps then stay open there (a later run takes them again).
  bool Strike(const std::vector<std::size_t>& indexes);
  bool MarkFailed(const std::vector<std::size_t>& indexes);
  /// Removes the record. False when it cannot.
  bool Remove();

  const std::string& path() const { return path_; }

 private:
  bool Append(const char* mark, const std::vector<std::size_t>& indexes);

  Env& env_;
  std::string path_;
  std::vector<BackupStep> steps_;
  bool present_ = false;
  int read_error_ = 0;
  bool whole_ = false;  // the file on the disk ends in a line end
  std::function<bool()> check_;  // before a rewrite; empty: none
  bool failed_ = false;  // an append or a write failed: no appends until a Write succeeds
};

/// Stores the size and the SHA-256 of the file at `path`, read through `env`.
/// False when it cannot be opened or read.
bool SizeAndHash(Env& env, const std::string& path, std::int64_t* size, std::string* sha256);

}  // namespace tavrin

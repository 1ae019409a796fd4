#pragma once
// The backup's record of the input files it is about to move, kept in the
// output directory until they have all moved. A group's files cannot move
// all at once: a run stopped between two of them leaves part of a group
// behind, and a new run would make a script of that part alone, a script no
// journal knows, and import those rows a second time. So the next run first
// finishes the moves the record names, before it reads any input.
//
// A text file: the input directory's prefix, the backup directory's prefix,
// then one bare file name per line.

#include <string>
#include <vector>

#include "platform/env.h"

namespace tavrin {

/// The record's bare name. It matches none of *.sql, *.tvr and *.olog.
inline constexpr const char* kBackupRecordName = "tavrin-backup.pending";

struct BackupRecord {
  std::string input_prefix;        // ends in the path separator
  std::string destination_prefix;  // likewise
  std::vector<std::string> names;
};

/// Puts `record` on the disk at `path`, whole or not at all: a temporary
/// file, synced, renamed over it. False when it cannot.
bool WriteBackupRecord(Env& env, const std::string& path, const BackupRecord& record);

/// Reads the record at `path`. False when there is none, or it cannot be
/// read, or it is not whole.
bool ReadBackupRecord(Env& env, const std::string& path, BackupRecord* record);

}  // namespace tavrin

#pragma once
// The import stage's own lines, as the e2e tests of the import expect them.

#include <string>

#include "e2e/harness.h"

namespace tavrin::test {

/// sqlplus could not be started: "file not found" (2) on both systems, and
/// the reason as `out` gives it.
inline std::string SqlPlusNotFound(const std::string& out) {
  return "\nError executing the sqlplus command. Process will be aborted. Error number :(2).\n" +
         ReasonLine(out, "No such file or directory");
}

inline std::string ImportingLine(const std::string& name) {
  return "\n\nImporting data from file == " + name + "== to SQL*PLUS started ...\n";
}
inline std::string ImportingLogLine(const std::string& name) {
  return "\n\nImporting data from file " + name + " to SQL*PLUS...\n";
}
/// A script that sqlplus ends: its last line is EXIT.
inline std::string ExitScript(const std::string& label) { return "-- " + label + "\nEXIT\n"; }

inline std::string ReportedErrors(int count, const std::string& name, const std::string& first,
                                  const std::string& output_log) {
  return "\n[ImportLogFiles] Warning: SQL*PLUS reported " + std::to_string(count) +
         " error(s) for file " + name + ": " + first + ". Check its output log " + output_log +
         ".\n";
}
inline std::string EndedWith(int code, const std::string& name, const std::string& output_log) {
  return "\n[ImportLogFiles] Warning: SQL*PLUS ended with exit code " + std::to_string(code) +
         " for file " + name + ". Check its output log " + output_log + ".\n";
}
inline std::string Summary(int with_errors, int scripts) {
  return "\n[ImportLogFiles] " + std::to_string(with_errors) + " of " + std::to_string(scripts) +
         " scripts reported errors. Check their output logs.\n";
}
inline std::string NoExitWarning(const std::string& path) {
  return "\n[ImportLogFiles] Warning: Script " + path +
         " does not end with the line EXIT. It is not imported.\n";
}
inline std::string StaleNotice(const std::string& path) {
  return "\n[ImportLogFiles] Notice: Script " + path +
         " was not written by this run. It is not imported.\n";
}
/// A script as the journal's messages name it: with the input file its
/// group came from, when the run wrote it.
inline std::string Copy(const std::string& name, const std::string& from) {
  return from.empty() ? name : name + " (from " + from + ")";
}
inline std::string ImportedNotice(const std::string& name, const std::string& time,
                                  const std::string& from = "") {
  return "\n[ImportLogFiles] Notice: " + Copy(name, from) + " was imported on " + time +
         "; skipped. Use -F to import it again.\n";
}
inline std::string CutShortWarning(const std::string& name, const std::string& from = "") {
  return "\n[ImportLogFiles] Warning: " + Copy(name, from) +
         " was being imported when an earlier run stopped; it may be partly in the database. "
         "Skipped: check the database; to import this script alone, copy it into an empty folder "
         "and run tavrin -I -F there.\n";
}
inline const std::string kJournalName = "tavrin-imports.journal";
inline const std::string kElapsed = "\nTime elapsed :N secs\n";

}  // namespace tavrin::test

#pragma once
// The settings of one run, set by the option loop and read by the stages.

#include <optional>
#include <string>

namespace tavrin {

struct RunSettings {
  std::optional<std::string> user;              // -U
  std::optional<std::string> password;          // -P
  std::optional<std::string> host;              // -S
  std::optional<std::string> input_directory;   // -i
  std::optional<std::string> output_directory;  // -o
  bool parse = false;                           // -p
  bool import = false;                          // -I
  bool move = false;                            // -m
  bool discard_last_group = false;              // -D
  bool fail_on_reported_errors = false;         // -e
  bool force = false;                           // -F: import whatever the journal says
  bool read_order = false;                      // -R: each group as one block, in the log's order
  bool history = false;                         // -H: scripts record their import in TAVRIN_IMPORTS
  bool atomic = false;                          // -A: each script lands whole or not at all
  bool status = false;                          // -J: show what the journal holds, and nothing else
  bool beside_status = false;  // an option -J does not take, or an argument after the options

  /// -U / (exactly "/"): the client logs on with no password, through a
  /// wallet entry for -S or, without -S, the system's own authentication.
  bool external_logon() const { return user && *user == "/"; }
};

}  // namespace tavrin

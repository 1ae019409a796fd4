// The parse stage on a batch decoded from the input, in memory. The input is
// files separated by the byte pair FF FE; each file's first line (up to LF)
// is its name, to which ".sql" is added, the rest its bytes, any bytes. The
// same batch run twice must give the same scripts and messages, and every
// script that is not empty must end in EXIT. Written with the history (-H),
// in both layouts, a script is marked not atomic exactly when a line it
// writes between its header and EXIT can commit.

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "driver/driver.h"
#include "memory_env.h"
#include "script/script_writer.h"

namespace {

struct Result {
  int code;
  std::string messages;
  std::map<std::string, std::string> files;
};

Result RunOnce(std::string_view input, const char* switches = "-p") {
  tavrin::fuzz::MemoryEnv env;
  env.directories.insert("in");
  env.directories.insert("out");
  while (!input.empty()) {
    std::size_t end = input.find("\xff\xfe");
    std::string_view file = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 2);
    std::size_t line = file.find('\n');
    std::string name(file.substr(0, line));
    std::string_view bytes = line == std::string_view::npos ? "" : file.substr(line + 1);
    // Names stay inside the input directory.
    for (char& c : name)
      if (c == '/' || c == '\\' || c == '\0') c = '_';
    env.files["in/" + name + ".sql"] = std::string(bytes);
  }
  const char* argv[] = {"tavrin", switches, "-i", "in", "-o", "out"};
  std::ostringstream out, err;
  Result r;
  r.code = tavrin::RunTavrin(6, argv, env, out, err);
  r.messages = out.str() + err.str();
  r.files = env.files;
  return r;
}

// Whether the history script `bytes` is marked as its body decides.
bool MarkedAsWritten(std::string_view bytes) {
  const std::string header_end = std::string(tavrin::kHistoryLines.back()) + "\r\n";
  std::size_t at = bytes.find(header_end);
  if (at == std::string_view::npos) return false;
  bool can_commit = false;
  for (at += header_end.size();;) {
    const std::size_t end = bytes.find("\r\n", at);
    if (end == std::string_view::npos) break;
    can_commit = can_commit || tavrin::LineCanCommit(bytes.substr(at, end - at));
    at = end + 2;
  }
  return bytes.starts_with("SET VERIFY OFF\r\n-- not atomic\r\n") == can_commit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const Result first = RunOnce(input);
  const Result second = RunOnce(input);
  if (first.code != second.code || first.messages != second.messages ||
      first.files != second.files)
    std::abort();  // the same batch gave another result
  if (first.code != 0 && first.code != 1) std::abort();
  for (const auto& [path, bytes] : first.files) {
    if (!path.starts_with("out/") || !path.ends_with(".tvr") || bytes.empty()) continue;
    if (!bytes.ends_with("\r\nEXIT") && bytes != "EXIT") std::abort();
  }
  for (const char* switches : {"-pH", "-pHR"}) {
    const Result history = RunOnce(input, switches);
    for (const auto& [path, bytes] : history.files) {
      if (!path.starts_with("out/") || !path.ends_with(".tvr") || bytes.empty()) continue;
      if (!MarkedAsWritten(bytes)) std::abort();
    }
  }
  return 0;
}

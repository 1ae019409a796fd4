// The option scanner and the driver's checks over argument vectors (the
// input split at NUL bytes), in memory: the exit code is 0, 1 or 2, and
// nothing crashes.

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "memory_env.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"tavrin"};
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);

  tavrin::fuzz::MemoryEnv env;
  env.directories.insert("in");
  env.directories.insert("out");
  env.files["in/a.sql"] = "COLUMN identity_1 NEW_VALUE identity_1 NOPRINT\nUPDATE t SET a = 1;\n";
  std::ostringstream out, err;
  const int code =
      tavrin::RunTavrin(static_cast<int>(args.size()), argv.data(), env, out, err);
  if (code != 0 && code != 1 && code != 2) std::abort();
  return 0;
}

#include "import/script_ending.h"

#include <vector>

namespace tavrin {
namespace {

// "\nEXIT\r\n": the longest ending that decides.
constexpr std::size_t kTailBytes = 7;
constexpr std::size_t kReadBytes = 64 * 1024;

}  // namespace

bool EndsWithExitLine(std::string_view tail, bool whole) {
  if (tail.ends_with('\n')) tail.remove_suffix(1);
  if (tail.ends_with('\r')) tail.remove_suffix(1);
  if (!tail.ends_with("EXIT")) return false;
  tail.remove_suffix(4);
  return tail.empty() ? whole : tail.back() == '\n';
}

bool ScriptEndsWithExit(Env& env, const std::string& path, bool* ends) {
  auto file = env.OpenForReading(path);
  if (!file) return false;
  std::vector<char> buffer(kReadBytes);
  std::string tail;
  bool whole = true;
  for (;;) {
    long long n = file->Read(buffer.data(), buffer.size());
    if (n < 0) return false;
    if (n == 0) break;
    tail.append(buffer.data(), static_cast<std::size_t>(n));
    if (tail.size() > kTailBytes) {
      tail.erase(0, tail.size() - kTailBytes);
      whole = false;
    }
  }
  *ends = EndsWithExitLine(tail, whole);
  return true;
}

}  // namespace tavrin

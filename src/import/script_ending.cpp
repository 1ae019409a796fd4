#include "import/script_ending.h"

#include <cstdint>
#include <vector>

#include "import/sha256.h"

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

namespace {

// Reads the file once, keeping its last kTailBytes and feeding every piece to
// `hash` when there is one.
bool ReadEnding(Env& env, const std::string& path, bool* ends, Sha256* hash) {
  auto file = env.OpenForReading(path);
  if (!file) return false;
  std::vector<char> buffer(kReadBytes);
  std::string tail;
  std::uint64_t total = 0;
  for (;;) {
    const long long n = file->Read(buffer.data(), buffer.size());
    if (n < 0) return false;
    if (n == 0) break;
    const std::string_view piece(buffer.data(), static_cast<std::size_t>(n));
    if (hash) hash->Update(piece);
    total += piece.size();
    tail.append(piece.substr(piece.size() > kTailBytes ? piece.size() - kTailBytes : 0));
    if (tail.size() > kTailBytes) tail.erase(0, tail.size() - kTailBytes);
  }
  *ends = EndsWithExitLine(tail, total == tail.size());
  return true;
}

}  // namespace

bool ScriptEndsWithExit(Env& env, const std::string& path, bool* ends) {
  return ReadEnding(env, path, ends, nullptr);
}

bool ReadScriptEnding(Env& env, const std::string& path, bool* ends, std::string* hash) {
  Sha256 sha;
  if (!ReadEnding(env, path, ends, &sha)) return false;
  *hash = sha.HexDigest();
  return true;
}

}  // namespace tavrin

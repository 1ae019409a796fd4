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
// `hash` when there is one; `head`, when given, gets its first `head_bytes`.
bool ReadEnding(Env& env, const std::string& path, bool* ends, Sha256* hash,
                std::string* head = nullptr, std::size_t head_bytes = 0) {
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
    if (head && head->size() < head_bytes)
      head->append(piece.substr(0, head_bytes - head->size()));
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

bool ReadScriptEnding(Env& env, const std::string& path, bool* ends, std::string* hash,
                      std::string* head, std::size_t head_bytes) {
  Sha256 sha;
  if (head) head->clear();
  if (!ReadEnding(env, path, ends, &sha, head, head_bytes)) return false;
  *hash = sha.HexDigest();
  return true;
}

}  // namespace tavrin

#include "platform/move_by_copy.h"

#include <vector>

namespace tavrin {

int MoveByCopy(Env& env, const std::string& from, const std::string& to) {
  auto in = env.OpenForReading(from);
  if (!in) return env.LastError();
  const std::string copy = to + kCopySuffix;
  bool exists = false;
  auto out = env.CreateNewOutput(copy, &exists);
  if (!out) return env.LastError();
  // From here on the copy is ours and goes again on any failure.
  auto fail = [&](int error, const std::string& made) {
    if (out) out->Close();
    env.RemoveFile(made);
    return error;
  };
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const long long n = in->Read(buffer.data(), buffer.size());
    if (n < 0) return fail(env.LastError(), copy);
    if (n == 0) break;
    if (!out->Append(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
      const int error = out->LastError();
      return fail(error ? error : env.LastError(), copy);
    }
  }
  in.reset();
  if (!out->Sync() || !out->Close()) {
    const int error = out->LastError();
    return fail(error ? error : 5, copy);
  }
  out.reset();
  if (!env.MoveNoReplace(copy, to)) return fail(env.LastError(), copy);
  if (!env.SyncEntry(to)) return fail(env.LastError(), to);
  // The original stays when it cannot go, so the copy must not: one file, in
  // one place.
  if (!env.RemoveFile(from)) return fail(env.LastError(), to);
  env.SyncEntry(from);
  return 0;
}

}  // namespace tavrin

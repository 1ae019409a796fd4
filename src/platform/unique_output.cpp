#include "platform/unique_output.h"

namespace tavrin {

std::unique_ptr<OutputFile> CreateUniqueOutput(Env& env, const std::string& stem,
                                               const std::string& extension, std::string* path) {
  *path = stem + extension;
  // Each taken name is one file that exists, so the walk ends.
  for (unsigned n = 2;; ++n) {
    bool exists = false;
    auto file = env.CreateNewOutput(*path, &exists);
    if (file || !exists) return file;
    *path = stem + "_" + std::to_string(n) + extension;
  }
}

}  // namespace tavrin

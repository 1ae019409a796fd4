#pragma once
// Tavrin's own copy of its command line. Other local users can read a
// process's argument vector for as long as it runs (ps, /proc/<pid>/cmdline
// on Linux), so once the copy is taken, every password given with -P is
// overwritten there with 'x'. The run reads the copy.

#include <string>
#include <vector>

namespace tavrin {

class OwnArguments {
 public:
  /// Copies `argv`, then blanks the passwords in it.
  OwnArguments(int argc, char** argv);
  OwnArguments(const OwnArguments&) = delete;
  OwnArguments& operator=(const OwnArguments&) = delete;

  int argc() const { return static_cast<int>(texts_.size()); }
  const char* const* argv() const { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<const char*> pointers_;  // into texts_, closed by a null
};

/// Overwrites with 'x' the bytes of every -P argument in `argv`, in every form
/// the option scanner takes (`-P secret`, `-Psecret`, `-pIP secret`).
void BlankPasswords(int argc, char** argv);

}  // namespace tavrin

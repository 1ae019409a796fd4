#include "driver/option_scanner.h"

#include <cstring>

namespace tavrin {

int OptionScanner::Next() {
  argument_.clear();
  argument_index_ = -1;
  argument_offset_ = 0;
  if (bundle_ && *bundle_ == '\0') bundle_ = nullptr;
  if (!bundle_) {
    if (index_ >= argc_) return kEnd;
    const char* arg = argv_[index_++];
    if (arg[0] != '-' && arg[0] != '/') {
      --index_;  // not an option: leave it unconsumed
      return kEnd;
    }
    if (std::strcmp(arg, "-") == 0 || std::strcmp(arg, "--") == 0) return kEnd;
    bundle_ = arg + 1;
  }

  char letter = *bundle_++;
  const char* found = letter == ':' || letter == '\0' ? nullptr : std::strchr(options_, letter);
  if (!found) {
    bundle_ = nullptr;  // the rest of an argument with an unknown letter is dropped
    return '?';
  }
  if (found[1] != ':') return static_cast<unsigned char>(letter);

  // The argument is the rest of this one, or else the whole next one.
  const char* rest = bundle_;
  bundle_ = nullptr;
  if (*rest != '\0') {
    argument_ = rest;
    argument_index_ = index_ - 1;
    argument_offset_ = static_cast<std::size_t>(rest - argv_[index_ - 1]);
  } else if (index_ < argc_) {
    argument_index_ = index_;
    argument_ = argv_[index_++];
  } else {
    return '?';
  }
  return static_cast<unsigned char>(letter);
}

}  // namespace tavrin

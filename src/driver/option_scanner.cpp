#include "driver/option_scanner.h"

#include <cstring>

namespace tavrin {

int OptionScanner::Next() {
  argument_.clear();
  argument_index_ = -1;
  argument_offset_ = 0;
  bad_option_.clear();
  missing_value_ = false;
  if (bundle_ && *bundle_ == '\0') bundle_ = nullptr;
  if (!bundle_) {
    if (index_ >= argc_) return kEnd;
    const char* arg = argv_[index_++];
    if (arg[0] != '-' && arg[0] != '/') {
      --index_;  // not an option: leave it unconsumed
      return kEnd;
    }
    if (std::strcmp(arg, "-") == 0 || std::strcmp(arg, "--") == 0) return kEnd;
    if (std::strncmp(arg, "--", 2) == 0) {
      bad_option_.assign(arg, std::strcspn(arg, "="));
      return '?';
    }
    switch_ = arg[0];
    bundle_ = arg + 1;
  }

  const char* at = bundle_;
  char letter = *bundle_++;
  const char* found = letter == ':' || letter == '\0' ? nullptr : std::strchr(options_, letter);
  if (!found) {
    // Named with the whole of a letter outside ASCII: its UTF-8 lead byte
    // and the bytes that continue it.
    std::size_t size = letter == '\0' ? 0 : 1;
    if (static_cast<unsigned char>(letter) >= 0xC0)
      while ((static_cast<unsigned char>(at[size]) & 0xC0) == 0x80) ++size;
    bad_option_ = switch_ + std::string(at, size);
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
    bad_option_ = {switch_, letter};
    missing_value_ = true;
    return '?';
  }
  return static_cast<unsigned char>(letter);
}

}  // namespace tavrin

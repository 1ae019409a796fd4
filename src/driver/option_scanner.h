#pragma once
// A small getopt of our own: it also accepts `/` as the option sign, as
// Windows users type it, and stops at the first argument that is not an
// option.

#include <cstddef>
#include <string>

namespace tavrin {

class OptionScanner {
 public:
  static constexpr int kEnd = -1;

  /// `options` lists the letters; a letter followed by ':' takes an argument.
  OptionScanner(int argc, const char* const* argv, const char* options)
      : argc_(argc), argv_(argv), options_(options) {}

  /// Returns the next option letter, '?' for an unknown letter or a missing
  /// argument, or kEnd. An option's argument is then in argument().
  int Next();

  const std::string& argument() const { return argument_; }
  /// After '?': the option as it was typed, its switch and one letter ("-Q",
  /// "/Q"), never the rest of its argument; or a "--word" argument whole, up
  /// to any "=" and the value after it.
  const std::string& bad_option() const { return bad_option_; }
  /// After '?': true when a letter that takes a value had none.
  bool missing_value() const { return missing_value_; }
  /// Where the last option's argument stands: argv[argument_index()], from
  /// byte argument_offset() on; argument_index() is -1 when it took none.
  int argument_index() const { return argument_index_; }
  std::size_t argument_offset() const { return argument_offset_; }
  /// Index of the next argument to examine.
  int index() const { return index_; }

 private:
  int argc_;
  const char* const* argv_;
  const char* options_;
  int index_ = 1;
  const char* bundle_ = nullptr;  // the next letter of the current bundle
  char switch_ = '-';             // the current bundle's '-' or '/'
  std::string argument_;
  std::string bad_option_;
  bool missing_value_ = false;
  int argument_index_ = -1;
  std::size_t argument_offset_ = 0;
};

}  // namespace tavrin

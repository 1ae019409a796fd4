#include "driver/own_arguments.h"

#include <cstring>

#include "driver/option_letters.h"
#include "driver/option_scanner.h"

namespace tavrin {

OwnArguments::OwnArguments(int argc, char** argv) : texts_(argv, argv + argc) {
  for (const std::string& text : texts_) pointers_.push_back(text.c_str());
  pointers_.push_back(nullptr);
  BlankPasswords(argc, argv);
}

void BlankPasswords(int argc, char** argv) {
  OptionScanner scanner(argc, argv, kOptionLetters);
  // Scans on past options the driver stops at: a password typed after them is
  // blanked all the same.
  for (int option = scanner.Next(); option != OptionScanner::kEnd; option = scanner.Next()) {
    if (option != 'P' || scanner.argument_index() < 0) continue;
    char* password = argv[scanner.argument_index()] + scanner.argument_offset();
    std::memset(password, 'x', std::strlen(password));
  }
}

}  // namespace tavrin

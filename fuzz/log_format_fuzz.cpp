// The log formatter's walk over any format text, with arguments of every
// kind; whatever the format asks for, it never reads past them.

#include <cstdint>
#include <sstream>
#include <string>

#include "diag/log_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view format(reinterpret_cast<const char*>(data), size);
  const std::string text = "text";
  const tavrin::LogArg args[] = {tavrin::LogArg(42), tavrin::LogArg(text),
                                 tavrin::LogArg(-1.5), tavrin::LogArg("c-string"),
                                 tavrin::LogArg(static_cast<const void*>(&text))};
  // Every count of arguments, none included.
  for (std::size_t count = 0; count <= std::size(args); count += 5) {
    std::string out;
    std::ostringstream errors;
    tavrin::FormatLog(format, std::span<const tavrin::LogArg>(args, count), &out, errors);
  }
  return 0;
}

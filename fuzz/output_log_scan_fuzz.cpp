// The output-log error scanner: any bytes, in pieces of any size, give the
// same result as in one piece, and the first error stays within its bound.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "import/output_log_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte sets the piece size.
  const std::size_t piece = data[0] % 17 + 1;
  const std::string_view log(reinterpret_cast<const char*>(data) + 1, size - 1);

  tavrin::OutputLogScanner whole;
  whole.Feed(log);
  const tavrin::OutputLogErrors a = whole.Finish();

  tavrin::OutputLogScanner pieces;
  for (std::size_t at = 0; at < log.size(); at += piece) pieces.Feed(log.substr(at, piece));
  const tavrin::OutputLogErrors b = pieces.Finish();

  if (a.count != b.count || a.first_error != b.first_error) std::abort();
  if (a.first_error.size() > tavrin::kFirstErrorBytes) std::abort();
  return 0;
}

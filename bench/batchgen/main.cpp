// tavrin_batchgen: writes a seeded batch of audit log files for the benchmark.
//
//   tavrin_batchgen --shape NAME [--size BYTES] [--seed N] [--lf]
//                   [--line-end lf|crlf|crcrlf] [--last-line none|cr]
//                   [--blanks-after-semicolon] [--schema FILE] DIRECTORY
//
// DIRECTORY is created if missing and must be empty. On success the batch's
// figures go to standard output as key=value lines. --schema also writes the
// tables and sequences that the rows use to FILE, as SQL, for the tests that
// run a batch in a database; FILE must lie outside DIRECTORY.

#include <charconv>
#include <fstream>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>

#include "batchgen/batch_writer.h"
#include "batchgen/random.h"
#include "batchgen/rows.h"
#include "batchgen/shapes.h"

namespace {

constexpr std::uint64_t kDefaultSize = 200'000'000;

int Usage(std::string_view problem) {
  if (!problem.empty()) std::cerr << "tavrin_batchgen: " << problem << "\n\n";
  std::cerr << "usage: tavrin_batchgen --shape NAME [--size BYTES] [--seed N] [--lf]\n"
               "                       [--line-end lf|crlf|crcrlf] [--last-line none|cr]\n"
               "                       [--blanks-after-semicolon] [--schema FILE] DIRECTORY\n"
               "  --size   about how many bytes to write; K, M, G multiply by 10^3, 10^6,\n"
               "           10^9 (default 200M)\n"
               "  --seed   the same seed gives the same batch (default 1)\n"
               "  --lf     end lines with LF instead of CR LF (--line-end lf)\n"
               "  --line-end   how lines end (default crlf)\n"
               "  --last-line  each file's last line ends in nothing or a lone CR\n"
               "  --blanks-after-semicolon  blanks, tabs or a CR after some closing \";\"\n"
               "  --schema  also write the tables and sequences of the rows to FILE, as SQL\n"
               "The line-end options change no row: one seed gives the same rows with each.\n"
               "shapes:\n"
            << batchgen::ShapeHelp();
  return 2;
}

bool ParseCount(std::string_view text, std::uint64_t* value) {
  std::uint64_t factor = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K': case 'k': factor = 1'000; break;
      case 'M': case 'm': factor = 1'000'000; break;
      case 'G': case 'g': factor = 1'000'000'000; break;
      default: break;
    }
    if (factor != 1) text.remove_suffix(1);
  }
  std::uint64_t number = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
  if (number > UINT64_MAX / factor) return false;
  *value = number * factor;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string shape_name;
  std::string directory;
  std::string schema;
  std::uint64_t size = kDefaultSize;
  std::uint64_t seed = 1;
  batchgen::LineEnds ends;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--shape" && has_value) {
      shape_name = argv[++i];
    } else if (arg == "--size" && has_value) {
      if (!ParseCount(argv[++i], &size) || size == 0) return Usage("bad --size");
    } else if (arg == "--seed" && has_value) {
      if (!ParseCount(argv[++i], &seed)) return Usage("bad --seed");
    } else if (arg == "--lf") {
      ends.each = "\n";
    } else if (arg == "--line-end" && has_value) {
      const std::string_view value = argv[++i];
      if (value == "lf") ends.each = "\n";
      else if (value == "crlf") ends.each = "\r\n";
      else if (value == "crcrlf") ends.each = "\r\r\n";
      else return Usage("bad --line-end");
    } else if (arg == "--last-line" && has_value) {
      const std::string_view value = argv[++i];
      if (value == "none") ends.last = "";
      else if (value == "cr") ends.last = "\r";
      else return Usage("bad --last-line");
    } else if (arg == "--schema" && has_value) {
      schema = argv[++i];
    } else if (arg == "--blanks-after-semicolon") {
      ends.blanks_after_semicolon = true;
    } else if (arg == "-h" || arg == "--help") {
      return Usage("");
    } else if (!arg.empty() && arg[0] != '-' && directory.empty()) {
      directory = arg;
    } else {
      return Usage("unexpected argument " + std::string(arg));
    }
  }
  batchgen::Shape shape;
  if (!batchgen::ShapeByName(shape_name, &shape)) return Usage("unknown or missing --shape");
  if (directory.empty()) return Usage("no output directory");

  // An existing batch in the directory would mix into this one.
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error || !std::filesystem::is_empty(directory, error) || error) {
    std::cerr << "tavrin_batchgen: " << directory << " must be an empty or new directory"
              << (error ? ": " + error.message() : std::string()) << '\n';
    return 1;
  }

  batchgen::Random random(seed);
  ends.seed = seed;
  batchgen::BatchWriter out(directory, ends);
  const std::uint64_t identities = batchgen::Generate(shape, size, random, out);
  std::string failure;
  if (!out.Finish(&failure)) {
    std::cerr << "tavrin_batchgen: " << failure << '\n';
    return 1;
  }
  if (!schema.empty()) {
    std::ofstream file(schema, std::ios::binary | std::ios::trunc);
    file << batchgen::RowMaker::Schema();
    file.close();
    if (!file) {
      std::cerr << "tavrin_batchgen: cannot write the schema " << schema << '\n';
      return 1;
    }
  }
  const batchgen::BatchStats& stats = out.stats();
  std::cout << "shape=" << shape_name << "\nseed=" << seed << "\nfiles=" << stats.files
            << "\ngroups=" << stats.groups << "\nidentities=" << identities
            << "\nlines=" << stats.lines << "\nbytes=" << stats.bytes
            << "\nlargest_group_bytes=" << stats.largest_group_bytes << '\n';
  return 0;
}

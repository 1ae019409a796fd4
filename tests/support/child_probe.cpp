// The child of the process tests. It writes to its standard output every
// argument it got, each followed by "|", then its working directory and the
// value of TAVRIN_PROBE_VALUE, and ends with as many as the arguments it got
// as exit code. No line ends, so that the output reads the same whatever the
// system does to them. When TAVRIN_PROBE_READ_INPUT is "1" it then writes
// "|" and its standard input, read to the end.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  std::string out;
  for (int i = 1; i < argc; ++i) out += std::string(argv[i]) + "|";
  out += std::filesystem::current_path().string() + "|";
  const char* value = std::getenv("TAVRIN_PROBE_VALUE");
  out += value ? value : "(unset)";
  const char* read_input = std::getenv("TAVRIN_PROBE_READ_INPUT");
  if (read_input && std::strcmp(read_input, "1") == 0)
    out += "|" + std::string(std::istreambuf_iterator<char>(std::cin), {});
  std::fwrite(out.data(), 1, out.size(), stdout);
  return argc - 1;
}

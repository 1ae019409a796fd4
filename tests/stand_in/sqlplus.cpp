// A stand-in for the sqlplus client, for tests only: no database needed.
//
// Writes to standard output each argument on a line of its own
// ("argv[<i>]=<text>"), a separator line and the bytes of the script named by
// the argument that starts with "@". Writes one marker line to standard
// error. A script that cannot be read gives status 2; otherwise it ends with
// the status held in TAVRIN_STAND_IN_EXIT (0 when unset), or is killed by
// SIGTERM when that variable is "signal". When TAVRIN_STAND_IN_REMOVE names
// a file, it removes that file first, as another process might.
//
// Standard C++ only: it is built for Windows as sqlplus.exe as well.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  const char* script = nullptr;
  for (int i = 0; i < argc; ++i) {
    std::cout << "argv[" << i << "]=" << argv[i] << "\n";
    if (i > 0 && argv[i][0] == '@' && !script) script = argv[i] + 1;
  }
  std::cout << "--- script ---\n";
  std::cerr << "[stand-in sqlplus] standard error\n";

  int status = 0;
  if (script) {
    std::ifstream in(script, std::ios::binary);
    if (in) {
      std::cout << std::string(std::istreambuf_iterator<char>(in), {});
    } else {
      std::cerr << "[stand-in sqlplus] cannot read " << script << "\n";
      status = 2;
    }
  }
  std::cout.flush();
  std::cerr.flush();

  if (const char* doomed = std::getenv("TAVRIN_STAND_IN_REMOVE")) std::remove(doomed);

  const char* wanted = std::getenv("TAVRIN_STAND_IN_EXIT");
  if (status == 0 && wanted) {
    if (std::strcmp(wanted, "signal") == 0) {
      std::raise(SIGTERM);
      return 99;  // not reached where SIGTERM ends the process
    }
    status = std::atoi(wanted);
  }
  return status;
}

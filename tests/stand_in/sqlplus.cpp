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
// TAVRIN_STAND_IN_SHAPES picks scripts by bare name and what the client
// prints for them after the script's bytes, as "<name>=<shape>" items
// separated by ",": "unique" (a block failing with ORA-00001), "compile" (a
// block that does not compile, PLS-00103), "login" (a refused login, then
// status 1) or "command" (SP2-0734). Those lines end in LF, or in CR LF when
// TAVRIN_STAND_IN_CRLF is "1" (on Windows standard output writes every LF
// as CR LF anyway).
//
// TAVRIN_STAND_IN_RECORD names a file to which every run appends the bytes
// of its script and a line "--- end of <bare name> ---", so that a test sees
// what reached the client over several runs.
//
// TAVRIN_STAND_IN_HOLD names one script by its bare name: having printed it,
// the client stands still, as a long transaction would, while a test acts.
// It writes "held" into the pipe <TAVRIN_STAND_IN_PIPES>/held, waits for a
// line from <TAVRIN_STAND_IN_PIPES>/release, goes on to its end and writes
// "ended" into the held pipe. Both are named pipes the test made.
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
#include <string_view>

namespace {

std::string_view BareName(std::string_view path) {
  std::size_t cut = path.find_last_of("\\/");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// The shape chosen for `script`, or empty.
std::string ShapeFor(std::string_view script) {
  const char* shapes = std::getenv("TAVRIN_STAND_IN_SHAPES");
  std::string_view items = shapes ? shapes : "";
  const std::string_view name = BareName(script);
  while (!items.empty()) {
    std::size_t end = items.find(',');
    std::string_view item = items.substr(0, end);
    items.remove_prefix(end == std::string_view::npos ? items.size() : end + 1);
    std::size_t equals = item.find('=');
    if (equals != std::string_view::npos && item.substr(0, equals) == name)
      return std::string(item.substr(equals + 1));
  }
  return "";
}

// The lines the client prints for `shape`; sets `*status` where the client
// exits with a failure. Unknown shapes print a line that says so.
std::string ShapeLines(const std::string& shape, int* status) {
  if (shape == "unique")
    return "PL/SQL procedure successfully completed.\n\nDECLARE\n*\nERROR at line 1:\n"
           "ORA-00001: unique constraint (AUDIT.PK_TXN) violated\nORA-06512: at line 7\n";
  if (shape == "compile")
    return "ERROR at line 3:\nORA-06550: line 3, column 2:\n"
           "PLS-00103: Encountered the symbol \";\" when expecting one of the following:\n";
  if (shape == "login") {
    *status = 1;
    return "ERROR:\nORA-01017: invalid username/password; logon denied\n\n\n"
           "SP2-0157: unable to CONNECT to ORACLE after 3 attempts, exiting SQL*Plus\n";
  }
  if (shape == "command")
    return "SP2-0734: unknown command beginning \"XYZ\" - rest of line ignored.\n";
  return "[stand-in sqlplus] unknown shape " + shape + "\n";
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void Record(const char* script, const std::string& content) {
  const std::string record = Variable("TAVRIN_STAND_IN_RECORD");
  if (record.empty()) return;
  std::ofstream out(record, std::ios::binary | std::ios::app);
  out << content << "--- end of " << BareName(script) << " ---\n";
}

// Opening a named pipe waits for the other end: that is the handshake.
void Tell(const std::string& pipe, const char* word) { std::ofstream(pipe) << word << "\n"; }
void AwaitLine(const std::string& pipe) {
  std::ifstream in(pipe);
  std::string line;
  std::getline(in, line);
}

void WriteLines(std::string text) {
#ifndef _WIN32
  const char* crlf = std::getenv("TAVRIN_STAND_IN_CRLF");
  if (crlf && std::strcmp(crlf, "1") == 0) {
    std::string with_cr;
    for (char c : text) {
      if (c == '\n') with_cr.push_back('\r');
      with_cr.push_back(c);
    }
    text.swap(with_cr);
  }
#endif
  std::cout << text;
}

}  // namespace

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
      std::string content(std::istreambuf_iterator<char>(in), {});
      std::cout << content;
      Record(script, content);
      std::string shape = ShapeFor(script);
      if (!shape.empty()) {
        // The client's own lines start on a line of their own.
        if (!content.empty() && content.back() != '\n') std::cout << "\n";
        WriteLines(ShapeLines(shape, &status));
      }
    } else {
      std::cerr << "[stand-in sqlplus] cannot read " << script << "\n";
      status = 2;
    }
  }
  std::cout.flush();
  std::cerr.flush();

  const std::string pipes = Variable("TAVRIN_STAND_IN_PIPES");
  const bool hold = script && !pipes.empty() && BareName(script) == Variable("TAVRIN_STAND_IN_HOLD");
  if (hold) {
    Tell(pipes + "/held", "held");
    AwaitLine(pipes + "/release");
  }

  if (const char* doomed = std::getenv("TAVRIN_STAND_IN_REMOVE")) std::remove(doomed);

  const char* wanted = std::getenv("TAVRIN_STAND_IN_EXIT");
  if (status == 0 && wanted) {
    if (std::strcmp(wanted, "signal") == 0) {
      std::raise(SIGTERM);
      return 99;  // not reached where SIGTERM ends the process
    }
    status = std::atoi(wanted);
  }
  if (hold) Tell(pipes + "/held", "ended");
  return status;
}

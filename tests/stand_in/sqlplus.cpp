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
// "ended" into the held pipe. Both are named pipes the test made. With
// TAVRIN_STAND_IN_HOLD_AT set to "logon" it stands still before its logon
// instead, as a client on a slow network does, and reads its script only
// once released.
//
// TAVRIN_STAND_IN_HEARTBEAT names a file to which it appends "start" and
// then "beat" every 100 ms, until that file is removed: a client that only
// its parent's end, or the test, can stop.
//
// A logon argument without "/" makes it ask for the password as the client
// does: it prints "Enter password: ", reads one line from its standard input
// and records "password=matched" or "password=wrong" against
// TAVRIN_STAND_IN_PASSWORD ("password=unchecked" when that is unset), never
// the password itself. A wrong one gets the client's refusal and status 1:
// with -L at once, without it after asking for a user name and reading its
// input to the end. The shape "leave" ends it at once with status 0, before
// it reads anything. A logon argument that starts with "/" (a logon with no
// password) makes it read its input to the end at once and record
// "input=<count> bytes": the count of what it was given there. When
// TAVRIN_STAND_IN_READ_TO_END is "1" it reads its
// input to the end after the script, as the client does at its prompt when a
// script does not end with EXIT. When TAVRIN_STAND_IN_PARENT_CMDLINE names a
// file, it copies its parent's /proc/<pid>/cmdline there (Linux only).
//
// The history probe (a script named tavrin-history.probe) is answered from
// the file TAVRIN_STAND_IN_HISTORY names, of lines "<id> <answer>": it
// prints "TAVRIN-HISTORY <answer>" for the id given as its argument, or
// "TAVRIN-HISTORY 0" for an id the file does not name. Without that file it
// answers nothing, as when the table is missing. Every probe's id is appended
// to the file as "<id> probed".
//
// Standard C++ only: it is built for Windows as sqlplus.exe as well.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

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
  // In one write: a client killed with Tavrin leaves no half entry.
  out << content + "--- end of " + std::string(BareName(script)) + " ---\n";
}

// The probe's answer line for `id`, or empty.
std::string HistoryAnswer(const std::string& id) {
  const std::string file = Variable("TAVRIN_STAND_IN_HISTORY");
  if (file.empty()) return "";
  std::ifstream in(file, std::ios::binary);
  if (!in) return "";
  std::string line, answer = "0";
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > id.size() && line.starts_with(id + " ") && line.substr(id.size() + 1) != "probed")
      answer = line.substr(id.size() + 1);
  }
  in.close();
  std::ofstream(file, std::ios::binary | std::ios::app) << id << " probed\n";
  return "TAVRIN-HISTORY " + answer + "\n";
}

// Opening a named pipe waits for the other end: that is the handshake.
void Tell(const std::string& pipe, const char* word) { std::ofstream(pipe) << word << "\n"; }
void AwaitLine(const std::string& pipe) {
  std::ifstream in(pipe);
  std::string line;
  std::getline(in, line);
}

[[noreturn]] void Heartbeat(const std::string& file) {
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out << "start\n" << std::flush;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!std::ifstream(file)) std::exit(0);
    out << "beat\n" << std::flush;
  }
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

bool IsSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value && std::strcmp(value, "1") == 0;
}

void ReadInputToTheEnd() {
  while (std::cin.ignore(std::numeric_limits<std::streamsize>::max())) {
  }
}

// Copies the command line of the process that started us, as other local
// users can read it, into `file`.
void RecordParentCommandLine(const char* file) {
  std::ifstream stat("/proc/self/stat");
  std::string text(std::istreambuf_iterator<char>(stat), {});
  std::size_t name_end = text.rfind(')');  // the name may hold blanks
  if (name_end == std::string::npos) return;
  std::istringstream fields(text.substr(name_end + 1));
  std::string state;
  long parent = 0;
  fields >> state >> parent;
  std::ifstream cmdline("/proc/" + std::to_string(parent) + "/cmdline", std::ios::binary);
  std::ofstream(file, std::ios::binary) << std::string(std::istreambuf_iterator<char>(cmdline), {});
}

// Asks for the password and checks it; false when the logon is refused.
bool LogOn(bool once) {
  std::cout << "Enter password: " << std::flush;
  std::string password;
  const bool read = static_cast<bool>(std::getline(std::cin, password));
  const char* expected = std::getenv("TAVRIN_STAND_IN_PASSWORD");
  const bool matched = read && expected && password == expected;
  std::cout << "\npassword=" << (!expected ? "unchecked" : matched ? "matched" : "wrong") << "\n";
  if (!expected || matched) return true;
  std::cout << "ERROR:\nORA-01017: invalid username/password; logon denied\n\n\n";
  if (once) {
    std::cout << "SP2-0751: Unable to connect to Oracle.  Exiting SQL*Plus\n";
  } else {
    std::cout << "Enter user-name: " << std::flush;
    ReadInputToTheEnd();
    std::cout << "\nSP2-0157: unable to CONNECT to ORACLE after 3 attempts, exiting SQL*Plus\n";
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const char* script = nullptr;
  const char* logon = nullptr;
  std::string first_argument;  // the script's &1
  bool once = false;
  for (int i = 0; i < argc; ++i) {
    std::cout << "argv[" << i << "]=" << argv[i] << "\n";
    if (i == 0) continue;
    if (std::strcmp(argv[i], "-L") == 0) {
      once = true;
    } else if (argv[i][0] == '@') {
      if (!script) script = argv[i] + 1;
    } else if (!logon) {
      logon = argv[i];
    } else if (script && first_argument.empty()) {
      first_argument = argv[i];
    }
  }
  if (script && ShapeFor(script) == "leave") return 0;
  if (const char* file = std::getenv("TAVRIN_STAND_IN_PARENT_CMDLINE")) RecordParentCommandLine(file);
  if (const char* file = std::getenv("TAVRIN_STAND_IN_HEARTBEAT")) Heartbeat(file);
  const std::string pipes = Variable("TAVRIN_STAND_IN_PIPES");
  const bool hold = script && !pipes.empty() && BareName(script) == Variable("TAVRIN_STAND_IN_HOLD");
  const bool hold_at_logon = hold && Variable("TAVRIN_STAND_IN_HOLD_AT") == "logon";
  if (hold_at_logon) {
    Tell(pipes + "/held", "held");
    AwaitLine(pipes + "/release");
  }
  if (logon && logon[0] == '/') {
    std::size_t count = 0;
    for (char c; std::cin.get(c);) ++count;
    std::cout << "input=" << count << " bytes\n";
  }
  if (logon && !std::strchr(logon, '/') && !LogOn(once)) {
    std::cerr << "[stand-in sqlplus] standard error\n";
    return 1;
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
      if (BareName(script) == "tavrin-history.probe") {
        if (!content.empty() && content.back() != '\n') std::cout << "\n";
        WriteLines(HistoryAnswer(first_argument));
      }
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
  if (IsSet("TAVRIN_STAND_IN_READ_TO_END")) ReadInputToTheEnd();
  std::cout.flush();
  std::cerr.flush();

  if (hold && !hold_at_logon) {
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

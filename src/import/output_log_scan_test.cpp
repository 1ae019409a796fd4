#include "import/output_log_scan.h"

#include <gtest/gtest.h>

#include <string>

#include "support/env_wrapper.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

// Scans `log` handed over in pieces of `piece` bytes.
OutputLogErrors Scan(const std::string& log, std::size_t piece = 1 << 20) {
  OutputLogScanner scanner;
  for (std::size_t at = 0; at < log.size(); at += piece)
    scanner.Feed(std::string_view(log).substr(at, piece));
  return scanner.Finish();
}

std::string WithCrLf(const std::string& text) {
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  return crlf;
}

// What the classes of an -A script read: the error lines outside a logon
// warning, the first error outside it, and a lost connection.
TEST(OutputLogScanner, ClassErrorsLeaveOutLogonWarningsAndSeeLostConnections) {
  struct Case {
    std::string log;
    int count, class_count;
    std::string class_first;
    bool lost;
  };
  const std::vector<Case> cases = {
      {"ERROR:\nORA-28002: the password will expire within 7 days\n\nok\n", 1, 0, "", false},
      {"ERROR:\nORA-28011: grace\nERROR at line 1:\nORA-02290: check constraint violated\n", 2,
       1, "ORA-02290: check constraint violated", false},
      {"ERROR:\nORA-01017: invalid username/password\n", 1, 1,
       "ORA-01017: invalid username/password", false},
      {"ERROR:\n", 1, 1, "ERROR:", false},
      {"ERROR at line 1:\nORA-03113: end-of-file on communication channel\n", 1, 1,
       "ORA-03113: end-of-file on communication channel", true},
      {"SP2-0310: unable to open file\nTNS-12541: no listener\n", 1, 1,
       "SP2-0310: unable to open file", true},
      {"ORA-12150\nORA-12699: x\nORA-00028: killed\n", 0, 0, "ORA-12150", true},
      {"ORA-12700: x\nORA-000281\nORA-0002\nXORA-03113\nORA-25410\n", 0, 0, "ORA-12700: x",
       false},
  };
  for (const Case& c : cases) {
    for (const std::string& log : {c.log, WithCrLf(c.log)}) {
      const OutputLogErrors errors = Scan(log, 3);
      EXPECT_EQ(errors.count, c.count) << log;
      EXPECT_EQ(errors.class_count, c.class_count) << log;
      EXPECT_EQ(errors.class_first_error, c.class_first) << log;
      EXPECT_EQ(errors.lost_connection, c.lost) << log;
    }
  }
}

TEST(OutputLogScanner, CountsAndNamesTheFirstErrorOfEachClientShape) {
  struct Case {
    const char* name;
    std::string log;
    int count;
    std::string first;
  };
  const std::vector<Case> cases = {
      {"clean", "PL/SQL procedure successfully completed.\n\nCommit complete.\n", 0, ""},
      {"failing block",
       "PL/SQL procedure successfully completed.\n\nDECLARE\n*\nERROR at line 1:\n"
       "ORA-00001: unique constraint (AUDIT.PK_TXN) violated\nORA-06512: at line 7\n",
       1, "ORA-00001: unique constraint (AUDIT.PK_TXN) violated"},
      {"block that does not compile",
       "ERROR at line 3:\nORA-06550: line 3, column 2:\n"
       "PLS-00103: Encountered the symbol \";\" when expecting one of the following:\n",
       1, "ORA-06550: line 3, column 2:"},
      {"refused login",
       "ERROR:\nORA-01017: invalid username/password; logon denied\n\n\n"
       "SP2-0157: unable to CONNECT to ORACLE after 3 attempts, exiting SQL*Plus\n",
       2, "ORA-01017: invalid username/password; logon denied"},
      {"client command",
       "SP2-0734: unknown command beginning \"XYZ\" - rest of line ignored.\n", 1,
       "SP2-0734: unknown command beginning \"XYZ\" - rest of line ignored."},
      {"counted line without a message", "ERROR at line 9:\nsomething else\n", 1,
       "ERROR at line 9:"},
      {"message without a counted line", "TNS-12541: TNS:no listener\n", 0,
       "TNS-12541: TNS:no listener"},
      {"look-alikes", "ERROR: \n ERROR at line 1:\nerror:\nXSP2-0734\nERROR at line\n", 0, ""},
      {"last line without line end", "ok\nSP2-0042: unknown command", 1,
       "SP2-0042: unknown command"},
  };
  for (const Case& c : cases) {
    for (bool crlf : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (crlf ? " (CR LF)" : " (LF)"));
      const std::string log = crlf ? WithCrLf(c.log) : c.log;
      for (std::size_t piece : {std::size_t{1}, std::size_t{3}, log.size() + 1}) {
        OutputLogErrors errors = Scan(log, piece);
        EXPECT_EQ(errors.count, c.count);
        EXPECT_EQ(errors.first_error, c.first);
      }
    }
  }
}

TEST(OutputLogScanner, FirstErrorIsCutTo200BytesAndLongLinesStillEnd) {
  const std::string long_message = "ORA-20001: " + std::string(5000, 'x');
  OutputLogErrors errors = Scan(long_message + "\r\nERROR:\r\nSP2-0001: next\n", 7);
  EXPECT_EQ(errors.count, 2);
  EXPECT_EQ(errors.first_error, long_message.substr(0, 200));

  // A CR right after the 200th byte is the line's end, not part of the text.
  const std::string exact = "ORA-20002: " + std::string(189, 'y');
  ASSERT_EQ(exact.size(), 200u);
  EXPECT_EQ(Scan("ERROR:\r\n" + exact + "\r\n").first_error, exact);
  EXPECT_EQ(Scan("ERROR:\n" + exact.substr(0, 199) + "\r\n").first_error, exact.substr(0, 199));
  // A CR inside a line stays part of it.
  EXPECT_EQ(Scan("SP2-0001: a\rb\n").first_error, "SP2-0001: a\rb");
}

TEST(OutputLogScanner, ReadsAFileThroughTheEnvAndReportsOneItCannotRead) {
  test::TempDir dir;
  const std::string path = (dir.path() / "import1.olog").string();
  test::WriteFile(path, "SQL> \nERROR at line 1:\nORA-00942: table or view does not exist\n");
  OutputLogErrors errors;
  ASSERT_TRUE(ScanOutputLog(*Env::Default(), path, &errors));
  EXPECT_EQ(errors.count, 1);
  EXPECT_EQ(errors.first_error, "ORA-00942: table or view does not exist");

  EXPECT_FALSE(ScanOutputLog(*Env::Default(), (dir.path() / "gone.olog").string(), &errors));

  // A read that fails part way.
  class FailingRead : public test::EnvWrapper {
   public:
    FailingRead() : EnvWrapper(Env::Default()) {}
    std::unique_ptr<ReadableFile> OpenForReading(const std::string&) override {
      struct Broken : ReadableFile {
        long long Read(char*, std::size_t) override { return -1; }
      };
      return std::make_unique<Broken>();
    }
  } failing;
  EXPECT_FALSE(ScanOutputLog(failing, path, &errors));
}

}  // namespace
}  // namespace tavrin

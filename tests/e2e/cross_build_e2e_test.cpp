// The Windows build against the Linux build: from the same batch both write
// the same scripts, byte for byte, and the same console and log texts but for
// the path separator. Runs where the program under test is tavrin.exe (under
// Wine), with the Linux build of the same tree beside it.

#include <algorithm>
#include <random>

#include "e2e/harness.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

struct BuildOutput {
  E2eResult result;
  std::map<std::string, std::string> scripts;  // name -> bytes
  std::string log;
};

class CrossBuildE2eTest : public E2eTest {
 protected:
  void SetUp() override {
    if (!E2eTarget::Get().windows)
      GTEST_SKIP() << "compares the Windows build with this one: run with TAVRIN_E2E_WINDOWS=1";
  }

  // Runs `target` over a copy of `batch` in a directory of its own, with
  // relative paths, so that both builds get the same arguments.
  BuildOutput RunOn(const E2eTarget& target, const fs::path& batch, const std::string& name,
                    const std::string& parse) {
    const fs::path base = dir() / name;
    fs::create_directories(base / "batch-out");
    fs::copy(batch, base / "batch-in");
    BuildOutput output;
    output.result = RunTarget(target, {"-l", parse, "-i", "batch-in", "-o", "batch-out"}, base);
    // The scripts only: the output directory also holds the run's lock file.
    for (const auto& entry : fs::directory_iterator(base / "batch-out"))
      if (entry.path().extension() == ".tvr")
        output.scripts[entry.path().filename().string()] = ReadFile(entry.path());
    auto logs = LogFiles(base);
    EXPECT_EQ(logs.size(), 1u);
    if (!logs.empty()) output.log = logs.begin()->second;
    return output;
  }

  // The Windows texts with "/" where paths have "\".
  static std::string LinuxSeparators(std::string text) {
    for (const std::string directory : {"batch-in", "batch-out"}) {
      const std::string windows = directory + "\\", linux = directory + "/";
      for (std::size_t at = text.find(windows); at != std::string::npos;
           at = text.find(windows, at))
        text.replace(at, windows.size(), linux);
    }
    return text;
  }

  void ExpectSameOutput(const fs::path& batch, std::size_t scripts,
                        const std::string& parse = "-p") {
    BuildOutput linux = RunOn(E2eTarget::Native(), batch, "linux", parse);
    BuildOutput windows = RunOn(E2eTarget::Get(), batch, "windows", parse);
    EXPECT_EQ(linux.result.exit_code, 0);
    EXPECT_EQ(windows.result.exit_code, 0);
    EXPECT_EQ(linux.scripts.size(), scripts);
    for (const auto& [name, bytes] : linux.scripts) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(windows.scripts.count(name));
      EXPECT_TRUE(windows.scripts[name] == bytes) << "the Windows build's script differs";
    }
    EXPECT_EQ(windows.scripts.size(), linux.scripts.size());
    EXPECT_EQ(LinuxSeparators(MaskElapsed(windows.result.out)), MaskElapsed(linux.result.out));
    EXPECT_EQ(LinuxSeparators(windows.result.err), linux.result.err);
    EXPECT_EQ(LinuxSeparators(windows.log), linux.log);
  }
};

TEST_F(CrossBuildE2eTest, ExamplesBatch) {
  ExpectSameOutput(fs::path(TAVRIN_EXAMPLES) / "batch", 2);
}

TEST_F(CrossBuildE2eTest, ExamplesBatchWithHistory) {
  ExpectSameOutput(fs::path(TAVRIN_EXAMPLES) / "batch", 2, "-pH");
}

// A batch of every kind of statement, in several groups, with both kinds of
// line end, bytes outside ASCII, a Ctrl-Z (end of file to a text-mode
// reader), format characters and a long line.
class BatchGenerator {
 public:
  explicit BatchGenerator(unsigned seed) : random_(seed) {}

  void Write(const fs::path& where, int groups) {
    int file_number = 0;
    for (int group = 1; group <= groups; ++group) {
      int declared = 0;
      const int files = Pick(4) + 1;
      for (int file = 0; file < files; ++file) {
        std::vector<std::string> lines;
        // A group starts at a file whose first declaration is identity_1.
        if (file == 0 || Pick(3) == 0) Declare(&lines, ++declared);
        const int statements = Pick(12) + 2;
        for (int i = 0; i < statements; ++i) Statement(&lines, &declared);
        char name[32];
        std::snprintf(name, sizeof name, "audit_%04d.sql", ++file_number);
        WriteFile(where / name, Join(lines));
      }
    }
  }

 private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

  std::string Detail() {
    static const std::string kDetails[] = {
        "console", "caf\xe9", "\xc3\xbc" "ber", "tab\there", "100%", "%s%d%n%ld",
        "ctrl-z \x1a inside", "back\\slash", "semi;colon", "comma, and ) paren",
        std::string(3000, 'x')};
    return kDetails[Pick(static_cast<int>(std::size(kDetails)))];
  }

  std::string Identity(int declared) {
    // Now and then one that was never declared.
    const int n = Pick(8) == 0 ? declared + 5 : Pick(declared) + 1;
    return "identity_" + std::to_string(n);
  }

  void Declare(std::vector<std::string>* lines, int n) {
    const std::string id = "identity_" + std::to_string(n);
    lines->push_back("INSERT INTO tbl_Transactions(TransactionID, StartedAt) VALUES "
                     "(seq_Transactions.NEXTVAL, '2026-12-01 10:" +
                     std::to_string(10 + n) + ":00');");
    lines->push_back("COLUMN " + id + " NEW_VALUE " + id + " NOPRINT");
    lines->push_back("SELECT seq_Transactions.CURRVAL " + id + " FROM DUAL;");
  }

  void Statement(std::vector<std::string>* lines, int* declared) {
    const std::string a = Identity(*declared), b = Identity(*declared);
    const std::string action =
        "INSERT INTO tbl_Actions(TransactionID, ActionType, Detail) VALUES (&";
    switch (Pick(13)) {
      case 0: Declare(lines, ++*declared); break;
      case 1:
        lines->push_back(action + a + ", 'LOGIN', '" + Detail() + "');");
        break;
      case 2:
        lines->push_back("INSERT INTO tbl_Actions(TransactionID, RelatedID, ActionType) VALUES (&" +
                         a + ", &" + b + ", 'APPROVE')");
        break;
      case 3:
        lines->push_back(action + a + ", 'EXPORT', '&" + b + "');");
        break;
      case 4:
        lines->push_back("INSERT INTO tbl_groups(GroupID, TransactionID, Name) VALUES "
                         "(seq_groups.NEXTVAL, &" + a + ", '" + Detail() + "');");
        break;
      case 5:
        lines->push_back("INSERT INTO tbl_Authentications(AuthID, UserName) VALUES "
                         "(seq_Authentications.NEXTVAL, '" + Detail() + "');");
        break;
      case 6:
        lines->push_back("INSERT INTO tbl_Authentications(AuthID, TransactionID) VALUES "
                         "(seq_Authentications.NEXTVAL, &" + a + ");");
        break;
      case 7:
        lines->push_back("INSERT INTO tbl_Transactions(TransactionID, ParentID) VALUES "
                         "(seq_Transactions.NEXTVAL, &" + a + ");");
        break;
      case 8:
        lines->push_back(action + a + ", 'NOTE', " + (Pick(2) ? " NULL " : "") + ");");
        break;
      case 9:
        lines->push_back("UPDATE tbl_Settings SET Value = '" + Detail() +
                         "' WHERE Name = 'audit';");
        break;
      case 10: lines->push_back(""); break;
      case 11: lines->push_back("SELECT seq_Actions.CURRVAL " + a + " FROM DUAL;"); break;
      default:
        lines->push_back("UPDATE tbl_Actions SET Detail = '" + Detail() +
                         "' WHERE TransactionID = &" + a + ";");
    }
  }

  std::string Join(const std::vector<std::string>& lines) {
    const std::string end = Pick(2) ? "\r\n" : "\n";
    std::string text;
    for (const std::string& line : lines) text += line + end;
    if (Pick(3) == 0 && !text.empty()) text.resize(text.size() - end.size());  // no last line end
    return text;
  }

  std::mt19937 random_;
};

TEST_F(CrossBuildE2eTest, GeneratedBatch) {
  TempDir batch;
  BatchGenerator(20261201).Write(batch.path(), 10);
  ExpectSameOutput(batch.path(), 10);
}

}  // namespace
}  // namespace tavrin::test

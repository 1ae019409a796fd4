// Runs killed with SIGKILL at 50 points of a -p -I -m run of a generated
// batch, each followed by a second run. The points are C library calls,
// counted by a preloaded library (kill_shim/kill_at_call.cpp), never times:
// a clean run names every call, and a seeded draw picks among them.

#include <algorithm>
#include <iostream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "e2e/import_texts.h"
#include "e2e/stand_in.h"
#include "import/backup_record.h"
#include "import/import_journal.h"
#include "import/sha256.h"
#include "platform/env.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

// Calls at which a kill leaves the most to recover: around the client's
// start and end, the journal's syncs, and the moves.
const std::set<std::string> kTurningPoints = {"fsync",     "mkdir", "rename", "unlink",
                                              "renameat2", "fork",  "waitpid"};

std::string HashOf(std::string_view bytes) {
  Sha256 sha;
  sha.Update(bytes);
  return sha.HexDigest();
}

// Whether a rename from `a` to `b` crosses file systems.
bool CrossesFileSystems(const fs::path& a, const fs::path& b) {
  WriteFile(a / "probe", "");
  std::error_code error, ignored;
  fs::rename(a / "probe", b / "probe", error);
  fs::remove(a / "probe", ignored);
  fs::remove(b / "probe", ignored);
  return error == std::errc::cross_device_link;
}

class KilledRunsTest : public StandInTest {
 protected:
  // Runs tavrin -pIme over `round`'s in/ and out/ (from its work/), with
  // `kill` for the preloaded library. Its exit code is 137 when killed; it
  // returns only when the client it started has ended too, since the
  // client's standard error is the pipe that cat reads to its end. Under
  // AddressSanitizer the preloaded library comes before its runtime, and
  // the leak check at every exit would double the test's time (other tests
  // look for leaks).
  E2eResult Run(const fs::path& round, EnvVars kill) {
    static const std::string script = R"sh(
      shim=$1 status=$2; shift 2
      export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0
      { ( LD_PRELOAD=$shim "$@" 3>&-; echo $? >"$status" ) 2>&1 >&3 | cat >&2; } 3>&1
      read -r code <"$status"; exit "$code"
    )sh";
    E2eTarget target;
    target.launcher = {
        "/bin/sh", "-c", script, "sh", TAVRIN_KILL_AT_CALL, (round / "status").string()};
    target.binary = E2eTarget::Get().binary;
    kill.emplace_back("TAVRIN_STAND_IN_RECORD", (round / "record").string());
    return RunTarget(target,
                     {"-pIme", "-i", In(round).string(), "-o", (round / "out").string(), "-U",
                      "u", "-P", "p", "-S", "h"},
                     round / "work", WithStandIn(kill));
  }

  // A round's input folder: in/, or on the far file system when set.
  fs::path In(const fs::path& round) const {
    return far_.empty() ? round / "in" : far_ / round.filename() / "in";
  }

  // A fresh round: the batch in its input folder, empty out/ and work/.
  fs::path NewRound(const std::string& name) {
    const fs::path round = dir() / name;
    fs::create_directories(round / "out");
    fs::create_directories(round / "work");
    fs::create_directories(In(round).parent_path());
    fs::copy(dir() / "batch", In(round));
    return round;
  }

  // Each input file of the batch, unchanged, exactly once in in/ or a
  // backup directory: an empty text, or what is wrong.
  std::string Misplaced(const fs::path& round) const {
    std::vector<fs::path> places = {In(round)};
    for (const auto& entry : fs::directory_iterator(round / "work"))
      if (entry.path().filename().string().starts_with("Processed_"))
        places.push_back(entry.path());
    std::string wrong;
    for (const auto& [name, bytes] : batch_) {
      int copies = 0;
      for (const fs::path& place : places) {
        if (!fs::exists(place / name)) continue;
        ++copies;
        if (ReadFile(place / name) != bytes) wrong += name + " changed in " + place.string() + "\n";
      }
      if (copies != 1) wrong += name + ": " + std::to_string(copies) + " copies\n";
    }
    return wrong;
  }

  // The hashes of the scripts the stand-in was handed, in order.
  static std::vector<std::string> Handed(const fs::path& round) {
    const std::string record = ReadFile(round / "record");
    static const std::regex kEnd("--- end of \\S+ ---\n");
    std::vector<std::string> hashes;
    std::size_t from = 0;
    for (std::sregex_iterator it(record.begin(), record.end(), kEnd), end; it != end; ++it) {
      hashes.push_back(HashOf(std::string_view(record).substr(from, it->position() - from)));
      from = it->position() + it->length();
    }
    return hashes;
  }

  // The scripts whose last journal line is "started": cut short.
  static std::set<std::string> CutShort(const fs::path& round) {
    const std::string journal = ReadFile(round / "out" / kImportJournalName);
    std::map<std::string, std::string> last;
    static const std::regex kLine("([0-9a-f]{64}) (\\w+) \\S+ (?:\\S+ )*\\S+\n");
    for (std::sregex_iterator it(journal.begin(), journal.end(), kLine), end; it != end; ++it)
      last[(*it)[1]] = (*it)[2];
    std::set<std::string> cut;
    for (const auto& [hash, state] : last)
      if (state == "started") cut.insert(hash);
    return cut;
  }

  std::map<std::string, std::string> batch_;  // input file name -> bytes
  fs::path far_;  // when set: the folder on another file system for the inputs
};

TEST_F(KilledRunsTest, NoKillLosesAnInputOrImportsAScriptTwice) {
  if (E2eTarget::Get().windows) GTEST_SKIP() << "SIGKILL and a preloaded library: Linux only";
  ChildCommand generate;
  const std::string batch = (dir() / "batch").string();
  generate.argv = {TAVRIN_BATCHGEN, "--shape", "realistic", "--size", "200K", "--seed", "1", batch};
  auto report = Env::Default()->CreateOutput((dir() / "batch.txt").string());
  generate.stdout_file = report.get();
  ChildExit generated;
  ASSERT_TRUE(Env::Default()->RunChild(generate, &generated) && !generated.signaled &&
              generated.code == 0);
  for (const auto& entry : fs::directory_iterator(dir() / "batch"))
    batch_[entry.path().filename().string()] = ReadFile(entry.path());

  // The clean run names the calls and shows which scripts the batch makes.
  const fs::path clean = NewRound("clean");
  ASSERT_EQ(Run(clean, {{"TAVRIN_KILL_TRACE", (clean / "trace").string()}}).exit_code, 0);
  std::vector<std::string> calls;
  std::istringstream trace(ReadFile(clean / "trace"));
  for (std::string call; std::getline(trace, call);) calls.push_back(call);
  const std::vector<std::string> scripts = Handed(clean);
  const std::set<std::string> clean_scripts(scripts.begin(), scripts.end());
  ASSERT_GE(clean_scripts.size(), 3u);
  ASSERT_EQ(clean_scripts.size(), scripts.size());
  ASSERT_EQ(Misplaced(clean), "");

  // 20 calls anywhere, 30 at or next to a turning point of a kind drawn
  // first, so that the many moves do not crowd out the rest; the same
  // points every run.
  std::map<std::string, std::vector<std::size_t>> turning;
  for (std::size_t i = 0; i < calls.size(); ++i)
    if (kTurningPoints.count(calls[i])) turning[calls[i]].push_back(i + 1);
  ASSERT_FALSE(turning.empty());
  std::mt19937 draw(20261209);
  std::set<std::size_t> points;
  while (points.size() < 20) points.insert(draw() % calls.size() + 1);
  while (points.size() < 50) {
    const auto& kind = std::next(turning.begin(), draw() % turning.size())->second;
    points.insert(
        std::clamp<std::size_t>(kind[draw() % kind.size()] + draw() % 3 - 1, 1, calls.size()));
  }

  // One round: killed before call `k` of `calls`, then run again.
  auto round_at = [&](std::size_t k, const std::vector<std::string>& traced) {
    SCOPED_TRACE("killed before call " + std::to_string(k) + ", " + traced[k - 1] +
                 (far_.empty() ? "" : ", inputs on another file system"));
    const fs::path round = NewRound("k" + std::to_string(k));
    ASSERT_EQ(Run(round, {{"TAVRIN_KILL_AT", std::to_string(k)}}).exit_code, 128 + 9);
    // Across file systems a kill between a copy and the removal of its
    // original leaves both, and the record says which is the leftover.
    if (far_.empty() || !fs::exists(round / "out" / kBackupRecordName)) {
      EXPECT_EQ(Misplaced(round), "");
    }
    const std::set<std::string> cut = CutShort(round);
    EXPECT_LE(cut.size(), 1u);

    // The second run finishes the batch; a script cut short is reported and
    // skipped (with -e, exit code 2), never imported again. A run stopped
    // in its backup left a record of every step, and the next one finishes
    // the open ones first; with no input left it then ends with 0.
    BackupRecord record(*Env::Default(), (round / "out" / kBackupRecordName).string());
    const bool resumed = record.Read();
    const bool stopped = resumed && !record.OpenSteps().empty();
    const bool inputs_left = !resumed && !Entries(In(round)).empty();
    const E2eResult again = Run(round, {});
    EXPECT_EQ(again.out.find("Notice: An earlier run stopped while moving its input files to") !=
                  std::string::npos,
              stopped);
    if (inputs_left) {
      EXPECT_EQ(again.exit_code, cut.empty() ? 0 : 2) << again.out << again.err;
    } else if (resumed) {
      EXPECT_EQ(again.exit_code, 0) << again.out << again.err;
      EXPECT_EQ(again.err.find("Unable to find target sql files"), std::string::npos);
      // Nothing of the batch waits in the output directory any more.
      for (const std::string& name : Entries(round / "out"))
        EXPECT_TRUE(!name.ends_with(".tvr") && !name.ends_with(".olog")) << name;
      EXPECT_FALSE(fs::exists(round / "out" / kBackupRecordName));
    } else {
      EXPECT_EQ(again.exit_code, 1);
      EXPECT_NE(again.err.find("[GroupFileList]Error: Unable to find target sql files"),
                std::string::npos)
          << again.err;
    }
    EXPECT_EQ(again.out.find("was being imported when an earlier run stopped") != std::string::npos,
              !cut.empty());
    EXPECT_EQ(Misplaced(round), "");
    EXPECT_EQ(Entries(In(round)), std::vector<std::string>{});
    for (const auto& entry : fs::directory_iterator(round / "work"))
      for (const std::string& name : Entries(entry.path()))
        EXPECT_FALSE(name.ends_with(".tavrin-copy")) << name << " left in " << entry.path();

    // Over both runs the client had each script of the batch once, or, for
    // the one cut short, at most once; and no other script.
    std::map<std::string, int> seen;
    for (const std::string& hash : Handed(round)) ++seen[hash];
    for (const auto& [hash, times] : seen) {
      EXPECT_TRUE(clean_scripts.count(hash)) << "a script the batch does not make: " << hash;
      EXPECT_EQ(times, 1) << hash;
    }
    for (const std::string& hash : clean_scripts)
      EXPECT_TRUE(seen.count(hash) || cut.count(hash)) << "never imported: " << hash;
    fs::remove_all(round);
    if (!far_.empty()) fs::remove_all(In(round).parent_path());
  };
  for (std::size_t k : points) {
    round_at(k, calls);
    if (HasFailure()) return;
  }

  // The input folder on another file system: each input file is copied
  // beside its final name, renamed, and only then removed. A kill at every
  // removal and rename of the backup, between an input file's copy and the
  // removal of its original among them.
  TempDir far("/dev/shm");
  if (!fs::is_directory("/dev/shm") || !CrossesFileSystems(far.path(), dir())) {
    std::cout << "Note: inputs on another file system not tried: /dev/shm is on this one\n";
    return;
  }
  far_ = far.path();
  const fs::path far_clean = NewRound("far-clean");
  ASSERT_EQ(Run(far_clean, {{"TAVRIN_KILL_TRACE", (far_clean / "trace").string()}}).exit_code, 0);
  std::vector<std::string> far_calls;
  std::istringstream far_trace(ReadFile(far_clean / "trace"));
  for (std::string call; std::getline(far_trace, call);) far_calls.push_back(call);
  const auto last_wait = std::find(far_calls.rbegin(), far_calls.rend(), "waitpid");
  std::size_t k = static_cast<std::size_t>(far_calls.rend() - last_wait);
  for (int taken = 0; k < far_calls.size() && taken < 8; ++k)
    if (far_calls[k] == "unlink" || far_calls[k] == "renameat2") {
      round_at(k + 1, far_calls);
      if (HasFailure()) return;
      ++taken;
    }
}

// Tavrin killed with SIGKILL while its client runs: the client ends too, on
// Linux by its death signal, on Windows (under Wine) with its job. The
// stand-in writes a heartbeat every 100 ms; it must stop within 5 s.
TEST_F(KilledRunsTest, AClientEndsWithAKilledTavrin) {
  const fs::path out = dir() / "out", beat = dir() / "heartbeat";
  fs::create_directories(out);
  WriteFile(out / "Output1.tvr", "EXIT\n");
  // $1: the heartbeat file; then the program and its arguments.
  static const std::string script = R"sh(
    beat=$1; shift
    "$@" &
    tavrin=$!
    until grep -q start "$beat" 2>/dev/null; do
      kill -0 "$tavrin" 2>/dev/null || { echo "no client"; exit 1; }
      sleep 0.1
    done
    kill -KILL "$tavrin"
    wait "$tavrin"; echo "exit $?"
    last=$(wc -c <"$beat")
    for second in 1 2 3 4 5; do
      sleep 1
      now=$(wc -c <"$beat")
      if [ "$now" = "$last" ]; then echo stopped; exit 0; fi
      last=$now
    done
    echo "still beating"
    rm -f "$beat"  # which ends the stand-in
  )sh";
  E2eTarget killer = E2eTarget::Get();
  killer.launcher.insert(killer.launcher.begin(), {"/bin/sh", "-c", script, "sh", beat.string()});
  const E2eResult r = RunTarget(killer, {"-I", "-o", Path(out), "-U", "u", "-P", "p", "-S", "h"},
                                dir(), WithStandIn({{"TAVRIN_STAND_IN_HEARTBEAT", Path(beat)}}));
  EXPECT_EQ(r.out, Banner() + ImportingLine("Output1.tvr") + "exit 137\nstopped\n") << r.err;
}

}  // namespace
}  // namespace tavrin::test

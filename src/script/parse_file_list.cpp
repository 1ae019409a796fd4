#include "script/parse_file_list.h"


#include "platform/path.h"
#include "script/group_state.h"
#include "script/script_writer.h"
#include "script/statement_filing.h"
#include "script/statement_text.h"
#include "text/digits.h"
#include "text/line_reader.h"

namespace tavrin {
namespace {

// The key of a reference line: "identity_", the one character after it,
// then the digits that follow; it ends at the end of the line at the latest.
// The character after "identity_" is taken whatever it is, as the scripts
// already written were keyed, so "&identity_x1" names "identity_x1".
std::string_view ReferenceKey(std::string_view line, std::size_t at) {
  std::size_t end = at + marker::kIdentity.size();
  if (end < line.size()) end = SkipDigits(line, end + 1);
  return line.substr(at, end - at);
}

// Files one line of an input file, rewritten in `scratch` when it changes.
// Returns false for a declaration line that cannot be read, which ends the
// stage.
bool ParseLine(GroupState& state, Diagnostics& diag, std::string_view line, std::string& scratch) {
  const TextMarkers markers = FindMarkers(line);
  if (markers.authentications_row) {
    AddRecordToKey(state, diag, kAuthenticationsKey, line, markers, scratch);
    return true;
  }
  const std::size_t at = markers.first_identity;
  if (at == TextMarkers::kNone || markers.transactions_row) {
    AddRecordToKey(state, diag, kOthersKey, line, markers, scratch);
    return true;
  }
  if (marker::kColumn.IsIn(line)) {
    std::size_t space = line.find(' ', at);
    if (space == std::string_view::npos) {
      diag.err() << "[ParseFileList] Error : Invalid format for the DECLARE statement. Process aborted"
                 << std::endl;
      diag.log("[ParseFileList]Error :Invalid format for the DECLARE statement Process aborted\n");
      return false;
    }
    const std::string_view key = line.substr(at, space - at);
    AddRecordToKey(state, diag, key, line, markers, scratch);
    AttachTransaction(state, key);
    return true;
  }

  // A reference line joins an identity declared before it; it never makes a key.
  const std::string_view key = ReferenceKey(line, at);
  auto report_invalid = [&] {
    diag.out() << "\t[AddRecordToKey]Found an invalid SQL statement " << line << ". Skipped."
               << std::endl;
    diag.log("\t[AddRecordToKey]Found an invalid SQL statement %s. Skipped.\n", line);
    return true;
  };
  if (!HasValidLastValue(line)) return report_invalid();
  // A reference the client would join to what follows it (&identity_1.5)
  // has no rewrite: the line is skipped as invalid, whether or not its
  // identity was declared.
  const std::optional<std::string_view> text = Rewritten(line, scratch);
  if (!text) return report_invalid();
  StoreCursor& cursor = state.store.cursor();
  cursor = state.store.Find(key);
  if (cursor.at_end()) {
    WarnUnknownIdentity(diag, key);
    return true;
  }
  const Statement stored = state.Keep(*text, line, markers);
  cursor->statements.push_back(stored);
  if (stored.Has(Statement::kGroups) && !EntryStartsWithAuthentication(state, key))
    AttachAuthentication(state, diag, *cursor);
  return true;
}

// The script of the current group, from its creation to its close. It is
// written under a temporary name and takes its own name only when complete,
// so that no search for scripts ever finds half of one.
class ScriptFile {
 public:
  ScriptFile() = default;
  ScriptFile(const ScriptFile&) = delete;
  ScriptFile& operator=(const ScriptFile&) = delete;
  ~ScriptFile() { Discard(); }

  bool is_open() const { return sink_.is_open(); }
  /// The script's own name, the one every message gives.
  const std::string& path() const { return path_; }

  bool Open(Env& env, std::string path) {
    env_ = &env;
    path_ = std::move(path);
    // "Output1.tvr.part": its extension is not "tvr", for the long name nor
    // for the 8.3 short name Windows searches match as well.
    temp_path_ = path_ + ".part";
    auto file = env.CreateOutput(temp_path_);
    if (!file) return false;
    sink_.Open(std::move(file));
    return true;
  }

  ScriptSink& sink() { return sink_; }

  /// Closes the script and gives it its own name, replacing a script of an
  /// earlier run; false when it could not be written completely, and then
  /// the temporary file is gone and error() tells why.
  bool Close() {
    bool ok = sink_.Close();
    if (ok && env_->RenameReplacing(temp_path_, path_)) return true;
    error_ = ok ? env_->LastError() : sink_.error();
    env_->RemoveFile(temp_path_);
    return false;
  }
  /// The system's error number for the failed Close.
  int error() const { return error_; }

 private:
  // A group the stage gave up on: its script is dropped, unfinished.
  void Discard() {
    if (!sink_.is_open()) return;
    sink_.Abandon();  // closed first: Windows removes no open file
    env_->RemoveFile(temp_path_);
  }

  Env* env_ = nullptr;
  std::string path_;
  std::string temp_path_;
  int error_ = 0;
  ScriptSink sink_;  // one for every script, its buffer kept between them
};

// Writes the group's script (when it has anything to write) and closes it.
bool FinishScript(Run& run, GroupState& state, ScriptFile& script, ScriptLayout layout) {
  Diagnostics& diag = run.diag;
  if (state.store.size() != 0)
    WriteScript(state, diag, script.sink(), layout, run.settings.history, run.settings.atomic);
  if (!script.is_open() || script.Close()) return true;
  diag.err() << "\n[ParseFileList]Error: Unable to write output log file:" << script.path()
             << std::endl;
  diag.log("[ParseFileList]Error: Unable to write output log: %s. Process aborted\n", script.path());
  diag.Reason(diag.err(), run.env, script.error());
  return false;
}

// An input file that cannot be opened, or stops reading half-way: the
// message is the same.
bool InputFailed(Run& run, const std::string& path) {
  const int error = run.env.LastError();
  run.diag.err() << "\nError: Unable to open input file " << path << std::endl;
  run.diag.log("[ParseFileList]Error : Unable to open input file %s. Process aborted\n", path);
  run.diag.Reason(run.diag.err(), run.env, error);
  return false;
}

}  // namespace

bool ParseFileList(Run& run) {
  Diagnostics& diag = run.diag;
  const std::string& input = *run.settings.input_directory;
  const std::string& output = *run.settings.output_directory;
  diag.log("\n[ParseFileList]************Starting to parse the files******************\n");

  GroupState state;
  ScriptFile script;
  std::string scratch;  // one buffer for every line that is rewritten
  std::int32_t current_group = -1;
  const ScriptLayout layout = run.settings.read_order ? ScriptLayout::kReadOrder : ScriptLayout::kBlocks;
  for (const InputFile& file : run.files) {
    if (file.group != current_group) {
      if (!FinishScript(run, state, script, layout)) return false;
      std::string path = JoinPath(output, "Output" + std::to_string(file.group) + ".tvr");
      if (!script.Open(run.env, path)) {
        const int error = run.env.LastError();
        diag.err() << "\n[ParseFileList]Error: Unable to create output log file:" << path
                   << std::endl;
        diag.log("[ParseFileList]Error: Unable to create ouput log: %s. Process aborted\n", path);
        diag.Reason(diag.err(), run.env, error);
        return false;
      }
      run.scripts_written.push_back({path, file.group});
      diag.out() << "\nCreating output log:" << path << std::endl;
      diag.log("\n[ParseFileList]Creating output log: %s\n", path);
      current_group = file.group;
      state.line_position = 0;
    }

    const std::string path = JoinPath(input, file.name);
    auto handle = run.env.OpenForReading(path);
    if (!handle) return InputFailed(run, path);
    diag.out() << "\n\tParsing file :" << file.name;
    diag.log("[ParseFileList]Parsing file %s\n", file.name);

    // Read into the group's memory: a line filed as read is kept where it is.
    LineReader reader(std::move(handle), state.texts);
    std::string_view line;
    while (reader.Next(&line)) {
      if (!ParseLine(state, diag, line, scratch)) return false;
      ++state.line_position;
    }
    // A file that stops reading half-way must not become half a script.
    if (reader.failed()) return InputFailed(run, path);
  }
  if (!FinishScript(run, state, script, layout)) return false;
  diag.log("[ParseFileList]************Parsing Ends******************\n");
  return true;
}

}  // namespace tavrin

#pragma once
// Output to a Windows console. A console shows UTF-16 text (WriteConsoleW);
// the bytes Tavrin prints are UTF-8 for its own texts and paths, but
// statement texts from the logs may be in a legacy code page. Output that
// goes to a file or a pipe is never decoded: it stays bytes.

#include <functional>
#include <string>
#include <string_view>

namespace tavrin {

/// Decodes bytes for a console and hands the text to a sink. Valid UTF-8 is
/// shown as such; a byte that does not start a valid UTF-8 sequence is
/// decoded alone from the legacy code page. A sequence cut off at the end of
/// one Write is held until the next Write completes it, or until Flush.
class ConsoleWriter {
 public:
  /// `sink` shows one piece of text; false when it could not. `code_page`
  /// 0 is the system's ANSI code page.
  explicit ConsoleWriter(std::function<bool(std::wstring_view)> sink, unsigned code_page = 0);

  bool Write(std::string_view bytes);
  /// Shows a held incomplete sequence, byte by byte in the legacy code page.
  bool Flush();

 private:
  bool Show(std::wstring_view text);

  std::function<bool(std::wstring_view)> sink_;
  unsigned code_page_;
  std::string held_;  // the start of a UTF-8 sequence the next bytes may end
};

/// Makes `std::cout` and `std::cerr` write through WriteConsoleW where they
/// reach a console; where they reach a file or a pipe they stay as they are.
/// Call once, before any output.
void UseConsoleForStandardStreams();

}  // namespace tavrin

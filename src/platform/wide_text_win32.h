#pragma once
// UTF-8 inside, UTF-16 at the Windows edge. Paths and texts stay UTF-8
// strings everywhere in Tavrin; the Windows layer converts them here, at each
// call, and calls the wide API. Plain standard types, so that callers need
// not include <windows.h>.

#include <string>
#include <string_view>

namespace tavrin {

/// `text` (UTF-8) as UTF-16. False, with the thread's last error set to
/// ERROR_NO_UNICODE_TRANSLATION, when it is not valid UTF-8; `*wide` is then
/// empty.
bool Utf8ToWide(std::string_view text, std::wstring* wide);

/// `text` (UTF-16) as UTF-8. An unpaired surrogate, which no valid text
/// holds, becomes U+FFFD.
std::string WideToUtf8(std::wstring_view text);

/// `path` (UTF-8) as the wide calls take it. A path whose full form is 248
/// characters or more gets the `\\?\` prefix (`\\?\UNC\` for a
/// `\\server\share` path), so that it is not held to the old length limit;
/// others stay as they are. False, with the last error set, when `path` is
/// not valid UTF-8.
bool WidePath(const std::string& path, std::wstring* wide);

/// `text` (UTF-16) in the ANSI code page. False when a character has no
/// exact form there (best-fit substitutes do not count).
bool WideToAnsi(std::wstring_view text, std::string* ansi);

/// Text for a console program's input: valid UTF-8 in the ANSI code page
/// (with the code page's default character for what it cannot hold); any
/// other bytes as they are.
std::string Utf8ToAnsiText(const std::string& text);

}  // namespace tavrin

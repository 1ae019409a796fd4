#include "platform/wide_text_win32.h"

#include <windows.h>

#include <climits>

namespace tavrin {
namespace {

// The conversion calls take an int count.
bool FitsInt(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

// Paths from this length on need the prefix (CreateDirectory's limit, the
// lowest of the calls).
constexpr std::size_t kLongPath = 248;

}  // namespace

bool Utf8ToWide(std::string_view text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  if (!FitsInt(text.size())) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  const int size = static_cast<int>(text.size());
  const int length =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  wide->resize(static_cast<std::size_t>(length));
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide->data(), length);
  return true;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty() || !FitsInt(text.size())) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

bool WidePath(const std::string& path, std::wstring* wide) {
  if (!Utf8ToWide(path, wide)) return false;
  // Already in the form that takes any length, or the wide calls will fail
  // as they always did on an empty one.
  if (wide->empty() || wide->starts_with(L"\\\\?\\")) return true;
  const DWORD needed = ::GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
  if (needed == 0 || needed - 1 < kLongPath) return true;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(wide->c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return true;
  full.resize(length);
  if (full.starts_with(L"\\\\.\\")) return true;  // a device, not a file
  if (full.starts_with(L"\\\\"))
    *wide = L"\\\\?\\UNC\\" + full.substr(2);
  else
    *wide = L"\\\\?\\" + full;
  return true;
}

bool WideToAnsi(std::wstring_view text, std::string* ansi) {
  ansi->clear();
  if (text.empty()) return true;
  if (!FitsInt(text.size())) return false;
  const int size = static_cast<int>(text.size());
  BOOL defaulted = FALSE;
  const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size,
                                           nullptr, 0, nullptr, &defaulted);
  if (length <= 0 || defaulted) return false;
  ansi->resize(static_cast<std::size_t>(length));
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, ansi->data(), length,
                        nullptr, &defaulted);
  // The code page may hold the character yet not give it back the same.
  std::wstring back(text.size(), L'\0');
  const int back_length = ::MultiByteToWideChar(CP_ACP, 0, ansi->data(), length, back.data(),
                                                static_cast<int>(back.size()));
  return !defaulted && back_length == size && back == text;
}

std::string Utf8ToAnsiText(const std::string& text) {
  std::wstring wide;
  if (!Utf8ToWide(text, &wide) || wide.empty() || !FitsInt(wide.size())) return text;
  const int size = static_cast<int>(wide.size());
  const int length = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return text;
  std::string ansi(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(), length, nullptr, nullptr);
  return ansi;
}

}  // namespace tavrin

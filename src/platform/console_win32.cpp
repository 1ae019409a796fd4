#include "platform/console_win32.h"

#include <windows.h>

#include <algorithm>
#include <iostream>
#include <streambuf>

namespace tavrin {
namespace {

// The length of the valid UTF-8 sequence at the start of `bytes`: 0 when
// there is none, -1 when `bytes` ends inside one that may still be valid.
int Utf8SequenceLength(std::string_view bytes, char32_t* code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  int length = 0;
  char32_t value = 0, lowest = 0;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<std::size_t>(i) >= bytes.size()) return -1;
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
    // Overlong forms, surrogates and values past U+10FFFF fail at the
    // second byte already, so that an incomplete one is never held.
    if (i == 1) {
      const char32_t shifted = value << (6 * (length - 2));
      if (shifted < lowest || (shifted >= 0xD800 && shifted <= 0xDFFF) || shifted > 0x10FFFF)
        return 0;
    }
  }
  *code = value;
  return length;
}

void AppendCode(char32_t code, std::wstring* text) {
  if (code < 0x10000) {
    text->push_back(static_cast<wchar_t>(code));
  } else {
    code -= 0x10000;
    text->push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
    text->push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
  }
}

void AppendLegacyByte(char byte, unsigned code_page, std::wstring* text) {
  wchar_t decoded = 0;
  if (::MultiByteToWideChar(code_page, 0, &byte, 1, &decoded, 1) == 1)
    text->push_back(decoded);
  else
    text->push_back(L'\xFFFD');
}

// WriteConsoleW to one console handle.
bool WriteToConsole(HANDLE console, std::wstring_view text) {
  while (!text.empty()) {
    // Old consoles refuse large writes.
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 8192));
    DWORD written = 0;
    if (!::WriteConsoleW(console, text.data(), chunk, &written, nullptr) || written == 0)
      return false;
    text.remove_prefix(written);
  }
  return true;
}

// A stream buffer in front of a ConsoleWriter.
class ConsoleStreamBuf final : public std::streambuf {
 public:
  explicit ConsoleStreamBuf(HANDLE console)
      : writer_([console](std::wstring_view text) { return WriteToConsole(console, text); }) {
    setp(buffer_, buffer_ + sizeof buffer_);
  }

 protected:
  int_type overflow(int_type c) override {
    if (sync() != 0) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }
  int sync() override {
    const std::string_view pending(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof buffer_);
    return writer_.Write(pending) ? 0 : -1;
  }

 private:
  ConsoleWriter writer_;
  char buffer_[4096];
};

// Installs a console buffer in `stream` when `which` is a console.
void RouteToConsole(std::ostream& stream, DWORD which) {
  HANDLE handle = ::GetStdHandle(which);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode))
    return;
  // Never deleted: the streams flush into it at exit, after every other
  // static object of ours is gone.
  stream.rdbuf(new ConsoleStreamBuf(handle));
}

}  // namespace

ConsoleWriter::ConsoleWriter(std::function<bool(std::wstring_view)> sink, unsigned code_page)
    : sink_(std::move(sink)), code_page_(code_page == 0 ? CP_ACP : code_page) {}

bool ConsoleWriter::Write(std::string_view bytes) {
  std::string joined;
  if (!held_.empty()) {
    joined = held_ + std::string(bytes);
    held_.clear();
    bytes = joined;
  }
  std::wstring text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    char32_t code = 0;
    const int length = Utf8SequenceLength(bytes, &code);
    if (length < 0) {
      held_.assign(bytes);
      break;
    }
    if (length == 0) {
      AppendLegacyByte(bytes[0], code_page_, &text);
      bytes.remove_prefix(1);
    } else {
      AppendCode(code, &text);
      bytes.remove_prefix(static_cast<std::size_t>(length));
    }
  }
  return Show(text);
}

bool ConsoleWriter::Flush() {
  std::wstring text;
  for (char byte : held_) AppendLegacyByte(byte, code_page_, &text);
  held_.clear();
  return Show(text);
}

bool ConsoleWriter::Show(std::wstring_view text) { return text.empty() || sink_(text); }

void UseConsoleForStandardStreams() {
  RouteToConsole(std::cout, STD_OUTPUT_HANDLE);
  RouteToConsole(std::cerr, STD_ERROR_HANDLE);
}

}  // namespace tavrin

// The child of the handle tests. For each handle value given as an argument
// it writes the name of the file that value refers to in this process, or
// "-" when it refers to none; then "|" and the name of the file of its own
// standard output. A name is the last component of the file's path.

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace {

std::string FileNameOf(HANDLE handle) {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD length = ::GetFinalPathNameByHandleW(handle, path, MAX_PATH * 2, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= MAX_PATH * 2) return "-";
  char name[MAX_PATH * 8] = {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), name,
                                         static_cast<int>(sizeof name), nullptr, nullptr);
  std::string text(name, size > 0 ? static_cast<std::size_t>(size) : 0);
  return text.substr(text.find_last_of('\\') + 1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::string out;
  for (int i = 1; i < argc; ++i) {
    auto value = static_cast<std::uintptr_t>(std::wcstoull(argv[i], nullptr, 10));
    out += FileNameOf(reinterpret_cast<HANDLE>(value));
    out += ' ';
  }
  HANDLE stdout_handle = ::GetStdHandle(STD_OUTPUT_HANDLE);
  out += '|';
  out += FileNameOf(stdout_handle);
  DWORD written = 0;
  ::WriteFile(stdout_handle, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
  return 0;
}

#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/own_arguments.h"
#include "platform/env.h"
#ifdef _WIN32
#include "platform/console_win32.h"
#include "platform/wide_text_win32.h"
#endif

namespace {

int Run(const tavrin::OwnArguments& arguments) {
  return tavrin::RunTavrin(arguments.argc(), arguments.argv(), *tavrin::Env::Default(), std::cout,
                           std::cerr);
}

}  // namespace

#ifdef _WIN32
// The C runtime's wide argv holds any name; the program sees it as UTF-8.
int wmain(int argc, wchar_t** wide_argv) {
  tavrin::UseConsoleForStandardStreams();
  std::vector<std::string> texts;
  for (int i = 0; i < argc; ++i) texts.push_back(tavrin::WideToUtf8(wide_argv[i]));
  const std::vector<std::string> typed = texts;
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  // The run reads its own copy; the passwords are blanked in the UTF-8 argv,
  // and from there in the runtime's wide one, before it starts.
  const tavrin::OwnArguments arguments(argc, argv.data());
  for (int i = 0; i < argc; ++i) {
    const std::string& blanked = texts[static_cast<std::size_t>(i)];
    const std::string& before = typed[static_cast<std::size_t>(i)];
    if (blanked == before) continue;
    std::size_t same = 0;
    while (same < before.size() && before[same] == blanked[same]) ++same;
    std::wstring kept;
    if (!tavrin::Utf8ToWide(before.substr(0, same), &kept) ||
        kept.size() > std::wcslen(wide_argv[i]))
      continue;
    for (wchar_t* c = wide_argv[i] + kept.size(); *c; ++c) *c = L'x';
  }
  return Run(arguments);
}
#else
int main(int argc, char** argv) {
  // The run reads its own copy; the password in argv is blanked before it starts.
  const tavrin::OwnArguments arguments(argc, argv);
  return Run(arguments);
}
#endif

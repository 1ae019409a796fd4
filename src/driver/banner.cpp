#include "driver/banner.h"

#include <cstdio>

namespace tavrin {
namespace {

// The banner fills a 512-character buffer at most, terminator included.
constexpr std::size_t kBannerLimit = 511;

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char buffer[kBannerLimit + 1] = {};
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

}  // namespace

std::string FormatBanner(const VersionInfo& info) {
  if (!info.has_file_version) return "";
  const char* name = info.product_name.c_str();
  const int second = static_cast<int>(info.minor);
  const int third = static_cast<int>(info.patch);
  const unsigned fourth = info.build;

  if (info.major == 0) {
    // Pre-releases: the fourth number carries a letter (hundreds) and a
    // revision (the rest).
    const int letter = static_cast<int>(fourth / 100 + 96);
    if (fourth >= 100 && fourth % 100 != 0)
      return Format("%s \nversion 0.%d.%d%c %d", name, second, third, letter,
                    static_cast<int>(fourth % 100));
    if (fourth >= 100) return Format("%s \nversion 0.%d.%d%c", name, second, third, letter);
    if (fourth != 0)
      return Format("%s \nversion 0.%d.%d %d", name, second, third, static_cast<int>(fourth));
    return Format("%s \nversion 0.%d.%d", name, second, third);
  }
  // Releases show two or three numbers, whatever the fourth is.
  if (third != 0)
    return Format("%s \nversion %d.%d.%d ", name, static_cast<int>(info.major), second, third);
  return Format("%s \nversion %d.%d ", name, static_cast<int>(info.major), second);
}

std::string BuildBanner(Env& env) {
  VersionInfo info;
  if (!env.ReadOwnVersion(&info)) return "";
  return FormatBanner(info);
}

}  // namespace tavrin

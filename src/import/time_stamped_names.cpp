#include "import/time_stamped_names.h"

#include <cstdio>

#include "platform/path.h"

namespace tavrin {
namespace {

// Wide enough for any int in every field, so a name is never cut short.
constexpr std::size_t kNameRoom = 128;

std::string Finish(const char* buffer, int size) {
  return std::string(buffer, size > 0 ? static_cast<std::size_t>(size) : 0);
}

}  // namespace

std::string OutputLogStem(std::string_view directory, int sequence, const DateTime& utc) {
  char name[kNameRoom];
  int size = std::snprintf(name, sizeof name, "import%d_%d_%02d_%02d_%02d_%02d_%02d", sequence,
                           utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second);
  return JoinPath(directory, Finish(name, size));
}

std::string HistoryLogStem(std::string_view directory, const DateTime& utc) {
  char name[kNameRoom];
  int size = std::snprintf(name, sizeof name, "history_%d_%02d_%02d_%02d_%02d_%02d", utc.year,
                           utc.month, utc.day, utc.hour, utc.minute, utc.second);
  return JoinPath(directory, Finish(name, size));
}

std::string BackupDirectoryName(const DateTime& utc) {
  char name[kNameRoom];
  int size = std::snprintf(name, sizeof name, "Processed_%d-%02d-%02d_%02d-%02d-%02d", utc.year,
                           utc.month, utc.day, utc.hour, utc.minute, utc.second);
  return Finish(name, size);
}

}  // namespace tavrin

#pragma once
// The UTC-stamped names of the import and backup stages.

#include <string>
#include <string_view>

#include "platform/env.h"

namespace tavrin {

inline constexpr const char* kOutputLogExtension = ".olog";

/// "import<sequence>_<Y>_<MM>_<DD>_<hh>_<mm>_<ss>" in `directory`: an output
/// log's path without its extension, kOutputLogExtension.
std::string OutputLogStem(std::string_view directory, int sequence, const DateTime& utc);

/// "history_<Y>_<MM>_<DD>_<hh>_<mm>_<ss>" in `directory`: a history probe's
/// output log's path without its extension.
std::string HistoryLogStem(std::string_view directory, const DateTime& utc);

/// "Processed_<Y>-<MM>-<DD>_<hh>-<mm>-<ss>", a bare name: the directory is
/// made in the current working directory.
std::string BackupDirectoryName(const DateTime& utc);

}  // namespace tavrin

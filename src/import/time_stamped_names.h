#pragma once
// The UTC-stamped names of the import and backup stages.

#include <string>
#include <string_view>

#include "platform/env.h"

namespace tavrin {

/// "import<sequence>_<Y>_<MM>_<DD>_<hh>_<mm>_<ss>.olog" in `directory`.
std::string OutputLogPath(std::string_view directory, int sequence, const DateTime& utc);

/// "Processed_<Y>-<MM>-<DD>_<hh>-<mm>-<ss>", a bare name: the directory is
/// made in the current working directory.
std::string BackupDirectoryName(const DateTime& utc);

}  // namespace tavrin

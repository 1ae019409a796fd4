#pragma once
// Import stage: runs sqlplus over every script of the output directory.

#include "driver/run.h"

namespace tavrin {

bool ImportLogFiles(Run& run);

}  // namespace tavrin

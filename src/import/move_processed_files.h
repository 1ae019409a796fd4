#pragma once
// Backup stage: moves processed inputs, scripts and output logs away.

#include "driver/run.h"

namespace tavrin {

bool MoveProcessedFiles(Run& run);

}  // namespace tavrin

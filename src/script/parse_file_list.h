#pragma once
// Parse stage: turns each group of input files into one SQL*Plus script.

#include "run/run.h"

namespace tavrin {

bool ParseFileList(Run& run);

}  // namespace tavrin

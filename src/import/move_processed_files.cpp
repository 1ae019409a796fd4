#include "import/move_processed_files.h"

namespace tavrin {

// Not built yet.
bool MoveProcessedFiles(Run&) { return true; }

}  // namespace tavrin

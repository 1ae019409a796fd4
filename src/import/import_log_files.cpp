#include "import/import_log_files.h"

namespace tavrin {

// Not built yet.
bool ImportLogFiles(Run&) { return true; }

}  // namespace tavrin

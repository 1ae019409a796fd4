#include "script/parse_file_list.h"

namespace tavrin {

// Not built yet.
bool ParseFileList(Run&) { return true; }

}  // namespace tavrin

#include "import/group_tags.h"

#include "import/sha256.h"

namespace tavrin {

std::unordered_map<std::int32_t, GroupTag> GroupTags(const InputFileList& files) {
  std::unordered_map<std::int32_t, GroupTag> tags;
  // A group's files stand together in the list.
  for (std::size_t first = 0; first < files.size();) {
    Sha256 hash;
    std::size_t end = first;
    for (; end < files.size() && files[end].group == files[first].group; ++end) {
      hash.Update(files[end].name);
      hash.Update("\n");
    }
    Sha256 first_name;
    first_name.Update(files[first].name);
    tags[files[first].group] = {hash.HexDigest().substr(0, 16), files[first].name,
                                first_name.HexDigest().substr(0, 16)};
    first = end;
  }
  return tags;
}

}  // namespace tavrin

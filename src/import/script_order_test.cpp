#include "import/script_order.h"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

TEST(ScriptOrder, GroupScriptsByNumberThenOtherNamesInByteOrder) {
  std::vector<std::string> names = {
      "Output10.tvr", "b.tvr",        "Output2.tvr",  "Output.tvr",
      "Output1.tvr",  "A.tvr",        "output3.tvr",  "Output02.tvr",
      "Output1x.tvr", "Output100.tvr", "Output99999999999999999999.tvr"};
  SortScriptNames(&names);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "Output1.tvr", "Output02.tvr", "Output2.tvr", "Output10.tvr",
                       "Output100.tvr", "Output99999999999999999999.tvr", "A.tvr", "Output.tvr",
                       "Output1x.tvr", "b.tvr", "output3.tvr"}));
}

}  // namespace
}  // namespace tavrin

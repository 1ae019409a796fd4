#include "script/marker.h"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

constexpr Marker kAba{"aba"};

TEST(Marker, FindsWhatStringFindFinds) {
  const std::string_view texts[] = {"", "a", "ab", "aba", "xaba", "abab", "aabaa", "ababa", "bbbbaba",
                                    "identity_identity_", "x &identity_1 '&identity_2"};
  for (std::string_view text : texts) {
    for (std::size_t from = 0; from <= text.size(); ++from) {
      EXPECT_EQ(kAba.FindIn(text, from), text.find("aba", from)) << text << " from " << from;
      EXPECT_EQ(marker::kIdentity.FindIn(text, from), text.find("identity_", from)) << text;
      EXPECT_EQ(marker::kReference.FindIn(text, from), text.find("&identity", from)) << text;
    }
  }
  EXPECT_TRUE(marker::kColumnIdentity.IsIn("--COLUMN identity_4"));
  EXPECT_FALSE(marker::kColumnIdentity.IsIn("COLUMN  identity_4"));
}

}  // namespace
}  // namespace tavrin

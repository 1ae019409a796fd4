#include "platform/wildcard.h"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

TEST(WildcardMatch, MatchesLikeWindowsLongNames) {
  EXPECT_TRUE(WildcardMatch("*.sql", "a.sql"));
  EXPECT_TRUE(WildcardMatch("*.sql", "A.SQL"));
  EXPECT_TRUE(WildcardMatch("*.sql", ".sql"));
  EXPECT_TRUE(WildcardMatch("*.sql", "x.sql.sql"));
  EXPECT_TRUE(WildcardMatch("*.olog", "import1_2026_12_08_16_30_00.olog"));
  EXPECT_TRUE(WildcardMatch("a?c*", "abcdef"));
  EXPECT_FALSE(WildcardMatch("*.sql", "a.sqlx"));
  EXPECT_FALSE(WildcardMatch("*.sql", "a.sq"));
  EXPECT_FALSE(WildcardMatch("*.tvr", "Output1.tvr.bak"));
  EXPECT_FALSE(WildcardMatch("a?c", "ac"));
}

}  // namespace
}  // namespace tavrin

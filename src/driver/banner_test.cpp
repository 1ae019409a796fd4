#include "driver/banner.h"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

std::string Banner(unsigned a, unsigned b, unsigned c, unsigned d) {
  VersionInfo info;
  info.product_name = "Tavrin";
  info.has_file_version = true;
  info.major = a;
  info.minor = b;
  info.patch = c;
  info.build = d;
  return FormatBanner(info);
}

TEST(Banner, ReleasesShowTwoOrThreeNumbers) {
  EXPECT_EQ(Banner(1, 0, 0, 1), "Tavrin \nversion 1.0 ");
  EXPECT_EQ(Banner(1, 0, 0, 2), "Tavrin \nversion 1.0 ");
  EXPECT_EQ(Banner(2, 3, 4, 5), "Tavrin \nversion 2.3.4 ");
  // A fourth number of 0 shows the same forms.
  EXPECT_EQ(Banner(2, 3, 0, 0), "Tavrin \nversion 2.3 ");
  EXPECT_EQ(Banner(2, 3, 4, 0), "Tavrin \nversion 2.3.4 ");
}

TEST(Banner, PreReleasesCarryLetterAndRevision) {
  EXPECT_EQ(Banner(0, 9, 1, 205), "Tavrin \nversion 0.9.1b 5");
  EXPECT_EQ(Banner(0, 9, 1, 300), "Tavrin \nversion 0.9.1c");
  EXPECT_EQ(Banner(0, 9, 1, 42), "Tavrin \nversion 0.9.1 42");
  EXPECT_EQ(Banner(0, 9, 1, 0), "Tavrin \nversion 0.9.1");
}

TEST(Banner, NoVersionBlockGivesNoBannerAndLongNamesAreBounded) {
  EXPECT_EQ(FormatBanner(VersionInfo{}), "");
  VersionInfo info;
  info.has_file_version = true;
  info.major = 1;
  info.product_name = std::string(2000, 'n');
  EXPECT_EQ(FormatBanner(info).size(), 511u);
}

}  // namespace
}  // namespace tavrin

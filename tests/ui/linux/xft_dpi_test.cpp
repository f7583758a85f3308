#include "ui/linux/xft_dpi.h"

#include <gtest/gtest.h>

namespace brisal {
namespace {

TEST(XftDpiTest, ReadsTheDpiLineAmongOtherResources) {
  EXPECT_FLOAT_EQ(ParseXftDpi("Xft.antialias:\t1\nXft.dpi:\t144\nXft.hinting:\t1\n"), 144);
  EXPECT_FLOAT_EQ(ParseXftDpi("Xft.dpi: 120.5"), 120.5f);
  EXPECT_FLOAT_EQ(ParseXftDpi("Xcursor.size:\t24\nXft.dpi:\t96"), 96);
}

TEST(XftDpiTest, MissingOrUnusableValuesGiveZero) {
  EXPECT_EQ(ParseXftDpi(""), 0);
  EXPECT_EQ(ParseXftDpi("Xft.antialias:\t1\n"), 0);
  EXPECT_EQ(ParseXftDpi("Xft.dpi:\tmucho\n"), 0);
  EXPECT_EQ(ParseXftDpi("Xft.dpi:\t0\n"), 0);
  EXPECT_EQ(ParseXftDpi("Xft.dpi:\t-96\n"), 0);
  // Only a whole resource name counts, not one that merely contains it.
  EXPECT_EQ(ParseXftDpi("MyXft.dpi:\t200\n"), 0);
}

}  // namespace
}  // namespace brisal

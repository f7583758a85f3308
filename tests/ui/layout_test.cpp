#include "ui/layout.h"

#include <gtest/gtest.h>

#include "tests/ui/fake_window_host.h"

namespace brisal {
namespace {

TEST(ScaleTest, DpiScaleLimitedByWorkAreaAndFloor) {
  // 96 DPI on a 1920 x 1040 work area: unscaled, centred.
  float scale = ComputeScale(1.0f, 1920, 1040);
  EXPECT_FLOAT_EQ(scale, 1.0f);
  WindowPlacement p = PlaceWindow(scale, {0, 0, 1920, 1040});
  EXPECT_EQ(p.width, 960);
  EXPECT_EQ(p.height, 612);
  EXPECT_EQ(p.x, 480);
  EXPECT_EQ(p.y, 214);

  // 144 DPI on 1366 x 728: the fit to the height wins over the DPI scale of 1.5.
  scale = ComputeScale(1.5f, 1366, 728);
  EXPECT_NEAR(scale, 1.163, 0.001);
  p = PlaceWindow(scale, {0, 0, 1366, 728});
  EXPECT_EQ(p.width, 1117);
  EXPECT_EQ(p.height, 712);
  EXPECT_EQ(p.x, 124);
  EXPECT_EQ(p.y, 8);

  // A tiny work area never pushes the scale below 0.6, even when the window then
  // overflows it and the centring goes negative.
  scale = ComputeScale(1.0f, 320, 240);
  EXPECT_FLOAT_EQ(scale, 0.6f);
  p = PlaceWindow(scale, {100, 50, 420, 290});
  EXPECT_EQ(p.width, 576);
  EXPECT_EQ(p.height, 367);
  EXPECT_EQ(p.x, 100 + (320 - 576) / 2);
  EXPECT_EQ(p.y, 50 + (240 - 367) / 2);
  EXPECT_LT(p.x, 100);
}

TEST(LayoutTest, ElementsRoundEachEdgeHalfAwayFromZero) {
  ElementTable elements{};
  ComputeLayout(1.0f, elements);
  EXPECT_EQ(elements[kCloseButton].rect, (PixelRect{914, 0, 960, 32}));
  EXPECT_EQ(elements[kPrimaryButton].rect, (PixelRect{690, 486, 920, 546}));
  EXPECT_EQ(elements[kFirstNewsRow + 4].rect, (PixelRect{41, 374, 919, 420}));
  EXPECT_EQ(elements[kUnusedElement].rect, (PixelRect{}));

  // 1.5: 41 * 1.5 = 61.5 rounds up to 62, 919 * 1.5 = 1378.5 to 1379.
  ComputeLayout(1.5f, elements);
  EXPECT_EQ(elements[kFirstNewsRow].rect, (PixelRect{62, 285, 1379, 354}));
  EXPECT_EQ(elements[kVerifyButton].rect, (PixelRect{906, 858, 1104, 891}));
  EXPECT_EQ(ScaleRect(kProgressArea, 1.5f), (PixelRect{60, 660, 978, 828}));
  // Each edge to the nearest pixel: 652 * 1.3 = 847.6 up, 550 * 1.25 = 687.5 up.
  EXPECT_EQ(ScaleRect(kStatusLineArea, 1.3f), (PixelRect{52, 676, 848, 715}));
  EXPECT_EQ(ScaleRect(kStatusLineArea, 1.25f), (PixelRect{50, 650, 815, 688}));
}

TEST(LayoutTest, HitTestSkipsDisabledNewsRowsButNotDisabledButtons) {
  ElementTable elements{};
  ComputeLayout(1.0f, elements);
  EXPECT_EQ(HitTest(elements, 700, 500), kPrimaryButton);
  EXPECT_EQ(HitTest(elements, 914, 0), kCloseButton);  // left/top edges are inside
  EXPECT_EQ(HitTest(elements, 913, 31), kMinimizeButton);
  EXPECT_EQ(HitTest(elements, 960, 0), kNoElement);  // right edge is outside
  EXPECT_EQ(HitTest(elements, 0, 0), kNoElement);    // index 5's empty rectangle

  elements[kPrimaryButton].enabled = false;
  EXPECT_EQ(HitTest(elements, 700, 500), kPrimaryButton);
  EXPECT_EQ(HitTest(elements, 100, 200), kFirstNewsRow);
  elements[kFirstNewsRow].enabled = false;
  EXPECT_EQ(HitTest(elements, 100, 200), kNoElement);
}

TEST(LayoutTest, DragAreaIsTheTopBandOutsideElements) {
  ElementTable elements{};
  ComputeLayout(1.0f, elements);
  EXPECT_TRUE(IsDragPoint(elements, 1.0f, 960, 612, 400, 40));
  EXPECT_TRUE(IsDragPoint(elements, 1.0f, 960, 612, 850, 70));  // right of "Discord"
  EXPECT_TRUE(IsDragPoint(elements, 1.0f, 960, 612, 10, 149));
  EXPECT_FALSE(IsDragPoint(elements, 1.0f, 960, 612, 10, 150));
  EXPECT_FALSE(IsDragPoint(elements, 1.0f, 960, 612, 900, 10));  // minimise glyph
  EXPECT_FALSE(IsDragPoint(elements, 1.0f, 960, 612, 920, 10));  // close glyph
  EXPECT_FALSE(IsDragPoint(elements, 1.0f, 960, 612, 60, 70));   // "Website"
  EXPECT_FALSE(IsDragPoint(elements, 1.0f, 960, 612, 150, 70));  // "Registrarse"
  EXPECT_FALSE(IsDragPoint(elements, 1.0f, 960, 612, 720, 70));  // "Discord"
  EXPECT_FALSE(IsDragPoint(elements, 1.0f, 960, 612, -1, 40));
  EXPECT_FALSE(IsDragPoint(elements, 1.0f, 960, 612, 960, 40));

  // At 1.163 the band ends at 174 pixels (174.45 truncated).
  ComputeLayout(1.163f, elements);
  EXPECT_TRUE(IsDragPoint(elements, 1.163f, 1117, 712, 10, 173));
  EXPECT_FALSE(IsDragPoint(elements, 1.163f, 1117, 712, 10, 174));
}

}  // namespace
}  // namespace brisal

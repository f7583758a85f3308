// Paints every phase with the GDI+ canvas off-screen and compares it with the cairo
// canvas's rendering of the same state (tests/ui/golden/, written by the Linux
// painting test): shapes, fills, gradients and the glow at fixed points within a
// small per-channel tolerance; texts only by presence, since the two systems' fonts
// differ. Both renderings are saved side by side in <build>/ui-compare/ for review.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "resources/artwork.h"
#include "tests/ui/fake_window_host.h"
#include "tests/ui/painted_states.h"
#include "ui/painter.h"
#include "ui/windows/canvas_gdiplus.h"

namespace brisal {
namespace {

using testing::FakeWindowHost;
using testing::ServiceLog;

// Straight ARGB pixels of one rendering.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<Argb> argb;

  Argb At(int x, int y) const {
    return argb[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                static_cast<std::size_t>(x)];
  }
};

Pixels ReadBitmap(Gdiplus::Bitmap& bitmap) {
  Pixels pixels;
  pixels.width = static_cast<int>(bitmap.GetWidth());
  pixels.height = static_cast<int>(bitmap.GetHeight());
  pixels.argb.resize(static_cast<std::size_t>(pixels.width) * pixels.height);
  Gdiplus::Rect all(0, 0, pixels.width, pixels.height);
  Gdiplus::BitmapData data = {};
  data.Width = static_cast<UINT>(pixels.width);
  data.Height = static_cast<UINT>(pixels.height);
  data.Stride = pixels.width * 4;
  data.PixelFormat = PixelFormat32bppARGB;
  data.Scan0 = pixels.argb.data();
  if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                      PixelFormat32bppARGB, &data) == Gdiplus::Ok) {
    bitmap.UnlockBits(&data);
  }
  return pixels;
}

int ChannelDistance(Argb a, Argb b) {
  int worst = 0;
  for (int shift : {16, 8, 0}) {  // both renderings are opaque: colour only
    worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) -
                                     static_cast<int>((b >> shift) & 0xFF)));
  }
  return worst;
}

std::string Hex(Argb c) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", c & 0xFFFFFF);
  return text;
}

// Pixels of `box` (x0, y0, x1, y1) that differ clearly from the same row's pixel in
// column `empty_x`, where the box shows only what lies under its text.
int Ink(const Pixels& p, int x0, int y0, int x1, int y1, int empty_x) {
  int count = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x)
      count += ChannelDistance(p.At(x, y), p.At(empty_x, y)) > 48;
  }
  return count;
}

void SavePng(Gdiplus::Bitmap& bitmap, const std::string& path) {
  // GDI+'s PNG encoder.
  const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
  EXPECT_EQ(bitmap.Save(Utf8ToWide(path).c_str(), &png, nullptr), Gdiplus::Ok) << path;
}

// cairo's rendering on the left, GDI+'s on the right.
void SaveSideBySide(Gdiplus::Bitmap& cairo, Gdiplus::Bitmap& gdiplus, const std::string& path) {
  const auto w = static_cast<INT>(cairo.GetWidth());
  const auto h = static_cast<INT>(cairo.GetHeight());
  Gdiplus::Bitmap both(2 * w + 8, h, PixelFormat32bppARGB);
  {
    Gdiplus::Graphics g(&both);
    g.Clear(Gdiplus::Color(0xFFFF00FF));
    g.DrawImage(&cairo, 0, 0, w, h);
    g.DrawImage(&gdiplus, w + 8, 0, w, h);
  }
  SavePng(both, path);
}

struct Probe {
  const char* what;
  int x;
  int y;
};

// Points the layout fixes, at scale 1: away from text and from anti-aliased edges
// that the two libraries may shade differently, except the 1-pixel outlines, which
// lie exactly on whole pixels in both.
constexpr Probe kProbes[] = {
    {"frame, left", 0, 300},         {"frame, top", 300, 0},
    {"frame, right", 959, 300},      {"frame, bottom", 300, 611},
    {"background, top", 20, 130},    {"background, bottom", 300, 562},
    {"news panel fill", 600, 380},   {"news separator 1", 300, 236},
    {"news separator 2", 300, 282},  {"news pill fill", 62, 208},
    {"Website outline", 40, 77},     {"Website fill", 45, 66},
    {"Discord outline", 813, 77},    {"selector outline", 690, 460},
    {"selector fill", 700, 449},     {"primary fill", 705, 496},
    {"primary fill, low", 705, 538}, {"Cambiar outline", 524, 583},
    {"Verificar outline", 735, 583}, {"file bar, start", 45, 469},
    {"file bar, middle", 300, 469},  {"file bar, end", 600, 469},
    {"total bar, start", 45, 511},   {"total bar, middle", 300, 511},
    {"total bar, end", 600, 511},
};

struct Case {
  std::string golden;  // file name in golden/, without "_scale1.png"
  UpdatePhase phase;
  int news;
  bool notice;
};

class GdiplusPaintingTest : public ::testing::Test {
 protected:
  GdiplusPaintingTest() { config = DefaultConfig(); }

  // Paints the state as the Win32 host does: the static layer, copied into the back
  // buffer, then the dynamic content of the whole window.
  std::unique_ptr<Gdiplus::Bitmap> Paint(const Case& c) {
    window = std::make_unique<LauncherWindow>(state, config, testing::PaintedSettings(), Message(),
                                              log.Services());
    window->Attach(host, 1.0f);
    testing::SetPaintedNews(state, c.news);
    testing::EnterPaintedPhase(state, *window, c.phase);
    window->notice = c.notice ? "No se puede instalar en esa carpeta" : "";

    DibSurface static_layer;
    DibSurface back_buffer;
    EXPECT_TRUE(static_layer.Create(window->width, window->height));
    EXPECT_TRUE(back_buffer.Create(window->width, window->height));
    {
      GdiplusCanvas canvas(static_layer, fonts);
      std::unique_ptr<CanvasImage> logo = canvas.DecodePng(BuiltinLogoPng());
      EXPECT_NE(logo, nullptr);
      PaintStatic(canvas, *window, logo.get());
    }
    const PixelRect whole{0, 0, window->width, window->height};
    CopySurfaceRect(static_layer, back_buffer, whole);
    {
      GdiplusCanvas canvas(back_buffer, fonts, &whole);
      PaintDynamic(canvas, *window, whole);
    }
    GdiFlush();
    // A copy that owns its pixels, in the premultiplied layout both canvases use.
    Gdiplus::Bitmap view(back_buffer.width(), back_buffer.height(), back_buffer.stride(),
                         PixelFormat32bppPARGB, back_buffer.bits());
    return std::unique_ptr<Gdiplus::Bitmap>(
        view.Clone(0, 0, back_buffer.width(), back_buffer.height(), PixelFormat32bppARGB));
  }

  GdiplusSession gdiplus;
  GdiplusFonts fonts{1.0f};
  LauncherState state;
  LauncherConfig config;
  FakeWindowHost host;
  ServiceLog log;
  std::unique_ptr<LauncherWindow> window;
};

TEST_F(GdiplusPaintingTest, EveryPhaseMatchesTheCairoRendering) {
  const std::string compare_dir = BRISAL_UI_COMPARE_DIR;
  ASSERT_TRUE(EnsureDirectory(compare_dir));
  std::vector<Case> cases;
  for (int p = 0; p <= 8; ++p) {
    cases.push_back({"phase" + std::to_string(p), static_cast<UpdatePhase>(p), 3, false});
  }
  cases.push_back({"phase4_notice", UpdatePhase::kUpdateAvailable, 3, true});
  cases.push_back({"news0", UpdatePhase::kUpToDate, 0, false});
  cases.push_back({"news7", UpdatePhase::kUpToDate, 7, false});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.golden);
    std::string png;
    const std::string golden = JoinPath(BRISAL_UI_GOLDEN_DIR, c.golden + "_scale1.png");
    ASSERT_TRUE(ReadWholeFile(golden, png)) << golden;
    std::unique_ptr<Gdiplus::Bitmap> cairo_bitmap = DecodePngBitmap(png);
    ASSERT_NE(cairo_bitmap, nullptr) << golden;
    std::unique_ptr<Gdiplus::Bitmap> gdi_bitmap = Paint(c);
    ASSERT_NE(gdi_bitmap, nullptr);
    SaveSideBySide(*cairo_bitmap, *gdi_bitmap, JoinPath(compare_dir, c.golden + ".png"));
    const Pixels cairo = ReadBitmap(*cairo_bitmap);
    const Pixels gdi = ReadBitmap(*gdi_bitmap);
    ASSERT_EQ(cairo.width, gdi.width);
    ASSERT_EQ(cairo.height, gdi.height);

    for (const Probe& probe : kProbes) {
      const Argb expected = cairo.At(probe.x, probe.y);
      const Argb got = gdi.At(probe.x, probe.y);
      EXPECT_LE(ChannelDistance(expected, got), 8)
          << probe.what << " at (" << probe.x << ", " << probe.y << "): cairo " << Hex(expected)
          << ", GDI+ " << Hex(got);
    }
    // The glow is faint (a few levels over the background) and the two libraries
    // blend its transparent gradient differently; what must hold is that it lifts the
    // background by a like amount where cairo's does. x = 20 lies outside it.
    for (const auto& [x, y] : {std::pair{350, 40}, std::pair{610, 40}, std::pair{480, 138}}) {
      auto lift = [&](const Pixels& p) {
        return static_cast<int>((p.At(x, y) >> 8) & 0xFF) -
               static_cast<int>((p.At(20, y) >> 8) & 0xFF);
      };
      const int cairo_lift = lift(cairo);
      const int gdi_lift = lift(gdi);
      EXPECT_GE(cairo_lift, 3) << "glow at (" << x << ", " << y << ") on cairo";
      EXPECT_GE(gdi_lift, cairo_lift / 2) << "glow at (" << x << ", " << y << ")";
      EXPECT_LE(gdi_lift, cairo_lift + 8) << "glow at (" << x << ", " << y << ")";
    }
    // A solid button's outline lies on its edge pixels; the gradient-filled one has
    // none, and its anti-aliased edge is shaded differently by the two libraries.
    const PrimaryButtonSpec spec = PrimarySpec(c.phase);
    if (!spec.enabled || spec.style != ButtonStyle::kPrimary) {
      EXPECT_LE(ChannelDistance(cairo.At(690, 516), gdi.At(690, 516)), 8)
          << "primary outline: cairo " << Hex(cairo.At(690, 516)) << ", GDI+ "
          << Hex(gdi.At(690, 516));
    }

    // Texts: the same areas hold text on both.
    const struct {
      const char* what;
      int x0, y0, x1, y1, empty_x;
    } texts[] = {
        {"news heading", 300, 152, 660, 186, 300},  {"status line", 40, 526, 600, 548, 640},
        {"primary label", 700, 500, 910, 532, 696}, {"folder row", 88, 572, 500, 594, 515},
        {"footer", 780, 572, 918, 594, 775},        {"selector label", 700, 448, 880, 472, 695},
    };
    for (const auto& t : texts) {
      const int cairo_ink = Ink(cairo, t.x0, t.y0, t.x1, t.y1, t.empty_x);
      const int gdi_ink = Ink(gdi, t.x0, t.y0, t.x1, t.y1, t.empty_x);
      EXPECT_GT(cairo_ink, 15) << t.what << " (cairo)";
      EXPECT_GT(gdi_ink, 15) << t.what << " (GDI+)";
    }
  }
}

}  // namespace
}  // namespace brisal

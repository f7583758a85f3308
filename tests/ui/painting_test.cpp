// Paints the window into off-screen cairo surfaces, with no display, and checks pixels
// where the geometry fixes them and the texts each area must show. Every painted
// phase is also saved as a PNG under tests/ui/golden/ for people to look at; the
// files are not compared byte for byte, since fonts differ between machines.
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/launcher_config.h"
#include "core/paths.h"
#include "resources/artwork.h"
#include "shared_state/launcher_state.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/fake_window_host.h"
#include "tests/ui/painted_states.h"
#include "ui/launcher_window.h"
#include "ui/linux/canvas_cairo.h"
#include "ui/painter.h"
#include "ui/theme.h"

namespace brisal {
namespace {

using testing::FakeWindowHost;
using testing::ServiceLog;

struct TextRecord {
  std::string text;
  FontId font;
  Argb color;
  RectF box;
  TextAlign align;
};

// Passes every call on to a real canvas and remembers the texts and images.
class RecordingCanvas final : public Canvas {
 public:
  explicit RecordingCanvas(Canvas& inner) : inner_(inner) {}
  void FillPath(const Path& path, const Brush& brush) override { inner_.FillPath(path, brush); }
  void StrokePath(const Path& path, Argb color, float width) override {
    inner_.StrokePath(path, color, width);
  }
  void FillRect(const RectF& rect, const Brush& brush) override { inner_.FillRect(rect, brush); }
  void DrawLine(PointF from, PointF to, Argb color, float width) override {
    inner_.DrawLine(from, to, color, width);
  }
  void DrawText(std::string_view utf8, FontId font, Argb color, const RectF& box,
                TextAlign align) override {
    texts.push_back({std::string(utf8), font, color, box, align});
    inner_.DrawText(utf8, font, color, box, align);
  }
  std::unique_ptr<CanvasImage> DecodePng(std::string_view bytes) override {
    return inner_.DecodePng(bytes);
  }
  void DrawImage(const CanvasImage& image, const RectF& dest) override {
    images.push_back(dest);
    inner_.DrawImage(image, dest);
  }

  std::vector<TextRecord> texts;
  std::vector<RectF> images;

 private:
  Canvas& inner_;
};

int Channel(Argb c, int shift) {
  return static_cast<int>((c >> shift) & 0xFF);
}

bool Near(Argb a, Argb b, int tolerance) {
  for (int shift : {24, 16, 8, 0}) {
    if (std::abs(Channel(a, shift) - Channel(b, shift)) > tolerance) return false;
  }
  return true;
}

Argb Mix(Argb a, Argb b, double t) {
  Argb out = 0;
  for (int shift : {24, 16, 8, 0}) {
    const double v = Channel(a, shift) + (Channel(b, shift) - Channel(a, shift)) * t;
    out |= static_cast<Argb>(std::lround(v)) << shift;
  }
  return out;
}

std::string Hex(Argb c) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", c);
  return text;
}

// A painted window: the finished back buffer and what was drawn into it.
struct Frame {
  CairoSurface surface;
  std::vector<TextRecord> static_texts;
  std::vector<TextRecord> texts;  // dynamic layer
  std::vector<RectF> logo_boxes;

  Argb At(int x, int y) const {
    cairo_surface_t* s = surface.get();
    cairo_surface_flush(s);
    const unsigned char* row = cairo_image_surface_get_data(s) +
                               static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(s);
    const Argb p = reinterpret_cast<const std::uint32_t*>(row)[x];
    const Argb a = p >> 24;
    if (a == 0 || a == 255) return p;
    auto straight = [&](int shift) { return ((p >> shift & 0xFF) * 255 + a / 2) / a; };
    return (a << 24) | straight(16) << 16 | straight(8) << 8 | straight(0);
  }

  // How many pixels of `rect` are within `tolerance` of `color`.
  int CountNear(const PixelRect& rect, Argb color, int tolerance) const {
    int count = 0;
    for (int y = rect.top; y < rect.bottom; ++y) {
      for (int x = rect.left; x < rect.right; ++x)
        count += Near(At(x, y), color, tolerance);
    }
    return count;
  }

  const TextRecord* FindText(const std::string& text) const {
    for (const TextRecord& t : texts) {
      if (t.text == text) return &t;
    }
    return nullptr;
  }

  int CountFont(FontId font) const {
    return static_cast<int>(std::count_if(texts.begin(), texts.end(),
                                          [&](const TextRecord& t) { return t.font == font; }));
  }

  void Save(const std::string& name) const {
    const char* folder = std::getenv("BRISAL_GOLDEN_DIR");
    const std::string path =
        JoinPath(folder != nullptr ? folder : BRISAL_UI_GOLDEN_DIR, name + ".png");
    EXPECT_EQ(cairo_surface_write_to_png(surface.get(), path.c_str()), CAIRO_STATUS_SUCCESS)
        << path;
  }
};

// Fonts are made once per scale, as the window does.
const CairoFonts& FontsFor(float scale) {
  static std::map<float, std::unique_ptr<CairoFonts>> fonts;
  auto& slot = fonts[scale];
  if (!slot) slot = std::make_unique<CairoFonts>(ChooseFontFamily(), scale);
  return *slot;
}

// Paints `window` as the host does: the static layer, copied into the back buffer,
// then the dynamic content of `dirty` (the whole window when not given).
Frame Paint(const LauncherWindow& window, std::optional<PixelRect> dirty = std::nullopt,
            const std::string& logo_folder = "") {
  const CairoFonts& fonts = FontsFor(window.scale);
  const PixelRect whole{0, 0, window.width, window.height};
  const PixelRect area = dirty.value_or(whole);
  Frame frame;
  CairoSurface static_layer = CreateLayerSurface(window.width, window.height);
  {
    CairoCanvas cairo(static_layer.get(), fonts);
    RecordingCanvas canvas(cairo);
    std::unique_ptr<CanvasImage> logo =
        logo_folder.empty() ? canvas.DecodePng(BuiltinLogoPng()) : LoadLogo(canvas, logo_folder);
    PaintStatic(canvas, window, logo.get());
    frame.static_texts = canvas.texts;
    frame.logo_boxes = canvas.images;
  }
  frame.surface = CreateLayerSurface(window.width, window.height);
  CopySurfaceRect(static_layer.get(), frame.surface.get(), whole);
  {
    CairoCanvas cairo(frame.surface.get(), fonts, &area);
    RecordingCanvas canvas(cairo);
    PaintDynamic(canvas, window, area);
    frame.texts = canvas.texts;
  }
  return frame;
}

using testing::kFailedText;
using testing::kOfflineText;

class PaintingTest : public ::testing::Test {
 protected:
  PaintingTest() { config = DefaultConfig(); }

  LauncherWindow& Open(float scale) {
    window = std::make_unique<LauncherWindow>(state, config, testing::PaintedSettings(), Message(),
                                              log.Services());
    window->Attach(host, scale);
    return *window;
  }

  void SetNews(int count) { testing::SetPaintedNews(state, count); }
  void Enter(UpdatePhase phase) { testing::EnterPaintedPhase(state, *window, phase); }

  LauncherState state;
  LauncherConfig config;
  FakeWindowHost host;
  ServiceLog log;
  std::unique_ptr<LauncherWindow> window;
};

std::string ExpectedStatus(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::kStarting:
    case UpdatePhase::kChecking:
      return "Buscando actualizaciones…";
    case UpdatePhase::kVerifying:
      return "Verificando archivos… 10 / 40";
    case UpdatePhase::kNotInstalled:
      return "Cliente no instalado · 12 archivos (3.0 MB)";
    case UpdatePhase::kUpdateAvailable:
      return "Actualización disponible · 12 archivos (3.0 MB)";
    case UpdatePhase::kDownloading:
      return "Descargando data/mapa.pak";
    case UpdatePhase::kUpToDate:
      return "Cliente actualizado. ¡Listo para jugar!";
    case UpdatePhase::kOffline:
      return kOfflineText;
    case UpdatePhase::kFailed:
      return kFailedText;
  }
  return "";
}

std::string ExpectedTotal(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::kVerifying:
      return "10 de 40 archivos";
    case UpdatePhase::kNotInstalled:
    case UpdatePhase::kUpdateAvailable:
      return "Pendiente: 3.0 MB";
    case UpdatePhase::kDownloading:
      return "5.0 MB de 10.0 MB (50.0%)";
    case UpdatePhase::kUpToDate:
      return "100%";
    default:
      return "";
  }
}

int Px(float scale, float units) {
  return static_cast<int>(std::floor(scale * units));
}

// The primary button, status line, progress texts and bars of every phase, with and
// without a notice, at scale 1 and 1.5.
TEST_F(PaintingTest, EveryPhaseShowsItsButtonStatusAndProgress) {
  for (float scale : {1.0f, 1.5f}) {
    Open(scale);
    SetNews(3);
    for (int p = 0; p <= 8; ++p) {
      for (bool with_notice : {false, true}) {
        const auto phase = static_cast<UpdatePhase>(p);
        SCOPED_TRACE("scale " + std::to_string(scale) + " phase " + std::to_string(p) +
                     (with_notice ? " with notice" : ""));
        Enter(phase);
        window->notice = with_notice ? "No se puede instalar en esa carpeta" : "";
        const Frame frame = Paint(*window);
        if (scale == 1.0f && (!with_notice || p == 4)) {
          frame.Save("phase" + std::to_string(p) + (with_notice ? "_notice" : "") + "_scale1");
        } else if (!with_notice && (p == 5 || p == 6)) {
          frame.Save("phase" + std::to_string(p) + "_scale1.5");
        }

        // Primary button: label, then fill and outline by style.
        const PrimaryButtonSpec spec = PrimarySpec(phase);
        const TextRecord* label = frame.FindText(spec.label);
        ASSERT_NE(label, nullptr) << spec.label;
        EXPECT_EQ(label->font, FontId::kButton);
        const PixelRect button = window->elements[kPrimaryButton].rect;
        EXPECT_NEAR(label->box.x, button.left + 0.5f, 1e-3);
        EXPECT_NEAR(label->box.w, button.right - button.left - 1, 1e-3);
        const int probe_x = button.left + Px(scale, 15);
        const int probe_y = button.top + Px(scale, 10);
        const int mid_y = (button.top + button.bottom) / 2;
        if (p <= 1) {
          EXPECT_EQ(Hex(frame.At(probe_x, probe_y)), Hex(kButtonDisabled.fill));
          EXPECT_EQ(Hex(frame.At(button.left, mid_y)), Hex(kButtonDisabled.outline));
          EXPECT_EQ(label->color, kButtonDisabled.label);
        } else if (p == 2 || p == 5) {
          EXPECT_EQ(Hex(frame.At(probe_x, probe_y)), Hex(kButtonCancel.fill));
          EXPECT_EQ(Hex(frame.At(button.left, mid_y)), Hex(kButtonCancel.outline));
          EXPECT_EQ(label->color, kButtonCancel.label);
        } else {
          // A vertical gradient across the shape (top + 0.5 to bottom - 0.5).
          const double t = (probe_y + 0.5 - (button.top + 0.5)) / (button.bottom - button.top - 1);
          EXPECT_TRUE(Near(frame.At(probe_x, probe_y),
                           Mix(colors::kPrimaryTop, colors::kPrimaryBottom, t), 3))
              << Hex(frame.At(probe_x, probe_y));
          EXPECT_EQ(label->color, colors::kPrimaryLabel);
          EXPECT_GT(frame.CountNear(button, colors::kPrimaryLabel, 24), 20) << "label ink";
        }

        // Status line: the notice wins in every phase; 7 and 8 show the job's text.
        const std::string status = with_notice ? window->notice : ExpectedStatus(phase);
        const TextRecord* line = frame.FindText(status);
        ASSERT_NE(line, nullptr) << status;
        EXPECT_EQ(line->font, FontId::kText);
        const bool highlighted = with_notice || p == 7 || p == 8;
        EXPECT_EQ(line->color, highlighted ? colors::kTextHighlight : colors::kTextBright);
        const PixelRect line_area = ScaleRect({40, 526, 650, 548}, scale);
        EXPECT_GT(frame.CountNear(line_area, line->color, 10), 3) << "status ink";
        if (!highlighted) {
          EXPECT_EQ(frame.CountNear(line_area, colors::kTextHighlight, 10), 0);
        }

        // Progress texts.
        const std::string total = ExpectedTotal(phase);
        if (!total.empty()) {
          const TextRecord* text = frame.FindText(total);
          ASSERT_NE(text, nullptr) << total;
          EXPECT_EQ(text->align, TextAlign::kFar);
        }
        EXPECT_EQ(frame.FindText("2.5 MB/s") != nullptr, p == 5);

        // Bars: probes on the track's middle row.
        const int file_row = Px(scale, 469);
        const int total_row = Px(scale, 511);
        auto filled = [&](int units_from_left, int row) {
          return !Near(frame.At(Px(scale, 40 + static_cast<float>(units_from_left)), row),
                       colors::kTrack, 2);
        };
        if (p == 6) {
          EXPECT_TRUE(Near(frame.At(Px(scale, 646), file_row), colors::kBarEnd, 12));
          EXPECT_TRUE(Near(frame.At(Px(scale, 646), total_row), colors::kBarEnd, 12));
          EXPECT_TRUE(Near(frame.At(Px(scale, 42), total_row), colors::kBarStart, 12));
        } else if (p == 5) {
          EXPECT_TRUE(filled(100, file_row));  // file at 25 %
          EXPECT_FALSE(filled(200, file_row));
          EXPECT_TRUE(filled(250, total_row));  // total at 50 %
          EXPECT_FALSE(filled(350, total_row));
        } else if (p == 2) {
          EXPECT_FALSE(filled(5, file_row));
          EXPECT_TRUE(filled(100, total_row));  // 10 of 40 files
          EXPECT_FALSE(filled(200, total_row));
        } else {
          EXPECT_FALSE(filled(5, file_row));
          EXPECT_FALSE(filled(5, total_row));
        }
      }
    }
  }
}

TEST_F(PaintingTest, NewsListShowsAtMostFiveItems) {
  for (float scale : {1.0f, 1.5f}) {
    Open(scale);
    for (int count : {0, 3, 7}) {
      SCOPED_TRACE("scale " + std::to_string(scale) + ", " + std::to_string(count) + " items");
      SetNews(count);
      Enter(UpdatePhase::kUpToDate);
      const Frame frame = Paint(*window);
      if (count != 3)
        frame.Save("news" + std::to_string(count) + "_scale" + (scale == 1.0f ? "1" : "1.5"));

      EXPECT_EQ(frame.FindText("Sin noticias por ahora") != nullptr, count == 0);
      EXPECT_EQ(frame.CountFont(FontId::kTitle), std::min(count, 5));
      for (int i = 0; i < count; ++i) {
        const TextRecord* title = frame.FindText("Noticia número " + std::to_string(i + 1));
        if (i >= 5) {
          EXPECT_EQ(title, nullptr) << "item " << i;
          continue;
        }
        ASSERT_NE(title, nullptr) << "item " << i;
        EXPECT_NEAR(title->box.y, scale * (190 + 46 * i), 1e-3);
        EXPECT_NEAR(title->box.x, scale * 152, 1e-3);
        const TextRecord* date = frame.FindText(std::to_string(i + 1) + " jun 2025");
        ASSERT_NE(date, nullptr);
        EXPECT_EQ(date->align, TextAlign::kFar);
        // The pill: its outline crosses the middle of its left edge.
        const int pill_x = Px(scale, 58);
        const int pill_y = Px(scale, 190 + 46 * i + 23);
        EXPECT_TRUE(Near(frame.At(pill_x, pill_y), colors::kPillOutline, 20))
            << Hex(frame.At(pill_x, pill_y));
      }
      // The second item has no tag: its pill reads "Noticia".
      const bool untagged_shown = std::any_of(
          frame.texts.begin(), frame.texts.end(),
          [](const TextRecord& t) { return t.text == "Noticia" && t.font == FontId::kSmall; });
      EXPECT_EQ(untagged_shown, count >= 2);
    }
  }
}

TEST_F(PaintingTest, ButtonColoursFollowHoverPressAndEnabled) {
  Open(1.0f);
  Enter(UpdatePhase::kNotInstalled);
  const PixelRect link = window->elements[kWebsiteLink].rect;
  const int lx = link.left + 6;
  const int ly = link.top + 4;
  const int my = (link.top + link.bottom) / 2;
  struct Case {
    int hot;
    int pressed;
    ButtonColors expected;
  };
  const Case cases[] = {
      {kNoElement, kNoElement, kButtonSecondary},
      {kWebsiteLink, kNoElement, kButtonHovered},
      {kWebsiteLink, kWebsiteLink, kButtonPressed},
      {kNoElement, kWebsiteLink, kButtonSecondary},  // pressed, then moved off
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("hot " + std::to_string(c.hot) + " pressed " + std::to_string(c.pressed));
    window->hot_element = c.hot;
    window->pressed_element = c.pressed;
    const Frame frame = Paint(*window);
    EXPECT_EQ(Hex(frame.At(lx, ly)), Hex(c.expected.fill));
    EXPECT_EQ(Hex(frame.At(link.left, my)), Hex(c.expected.outline));
    const TextRecord* label = frame.FindText("Website");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->color, c.expected.label);
    EXPECT_EQ(label->font, FontId::kLabel);
  }

  // The primary button brightens when hovered and darkens when pressed.
  const PixelRect button = window->elements[kPrimaryButton].rect;
  const int bx = button.left + 15;
  const int by = button.top + 3;
  const double t = (by + 0.5 - (button.top + 0.5)) / (button.bottom - button.top - 1);
  window->hot_element = kPrimaryButton;
  window->pressed_element = kNoElement;
  EXPECT_TRUE(Near(Paint(*window).At(bx, by),
                   Mix(colors::kPrimaryHotTop, colors::kPrimaryHotBottom, t), 3));
  window->pressed_element = kPrimaryButton;
  EXPECT_TRUE(Near(Paint(*window).At(bx, by),
                   Mix(colors::kPrimaryPressedTop, colors::kPrimaryPressedBottom, t), 3));

  // A busy phase disables the folder buttons; hovering a disabled one changes nothing.
  Enter(UpdatePhase::kDownloading);
  window->hot_element = kVerifyButton;
  window->pressed_element = kVerifyButton;
  const Frame busy = Paint(*window);
  const PixelRect verify = window->elements[kVerifyButton].rect;
  EXPECT_EQ(Hex(busy.At(verify.left + 8, verify.top + 4)), Hex(kButtonDisabled.fill));
  EXPECT_EQ(Hex(busy.At(verify.left, (verify.top + verify.bottom) / 2)),
            Hex(kButtonDisabled.outline));
  ASSERT_NE(busy.FindText("Verificar archivos"), nullptr);
  EXPECT_EQ(busy.FindText("Verificar archivos")->color, kButtonDisabled.label);
}

TEST_F(PaintingTest, TitleGlyphBackgroundsOnlyWhenHot) {
  Open(1.0f);
  Enter(UpdatePhase::kUpToDate);
  window->hot_element = kCloseButton;
  Frame frame = Paint(*window);
  EXPECT_EQ(Hex(frame.At(916, 2)), Hex(colors::kHotClose));
  EXPECT_NE(Hex(frame.At(870, 2)), Hex(colors::kHotMinimize));
  // The close cross passes through the element's centre in white.
  EXPECT_TRUE(Near(frame.At(936, 15), colors::kGlyphHot, 60)) << Hex(frame.At(936, 15));

  window->hot_element = kMinimizeButton;
  frame = Paint(*window);
  EXPECT_EQ(Hex(frame.At(870, 2)), Hex(colors::kHotMinimize));
  EXPECT_NE(Hex(frame.At(916, 2)), Hex(colors::kHotClose));
}

TEST_F(PaintingTest, StaticLayerFrameTracksLabelsAndLogo) {
  Open(1.0f);
  Enter(UpdatePhase::kStarting);
  const Frame frame = Paint(*window);
  for (auto [x, y] : {std::pair{0, 0}, {959, 611}, {0, 300}, {959, 300}, {480, 0}, {480, 611}}) {
    EXPECT_EQ(Hex(frame.At(x, y)), Hex(colors::kLine)) << x << "," << y;
  }
  EXPECT_NE(Hex(frame.At(1, 300)), Hex(colors::kLine));
  EXPECT_EQ(Hex(frame.At(345, 469)), Hex(colors::kTrack));
  EXPECT_EQ(Hex(frame.At(345, 511)), Hex(colors::kTrack));
  // The panel's near-black fill.
  EXPECT_TRUE(Near(frame.At(100, 420), 0xFF0D0D0F, 3)) << Hex(frame.At(100, 420));
  // The background darkens towards the bottom.
  EXPECT_GT(Channel(frame.At(20, 440), 16), Channel(frame.At(20, 600), 16));

  const std::vector<std::string> labels = {"N\u2009O\u2009T\u2009I\u2009C\u2009I\u2009A\u2009S",
                                           "Progreso del archivo", "Progreso total", "Carpeta:"};
  ASSERT_EQ(frame.static_texts.size(), labels.size());
  for (std::size_t i = 0; i < labels.size(); ++i)
    EXPECT_EQ(frame.static_texts[i].text, labels[i]);

  // The built-in 1032 x 340 logo, limited by its height: 339.95 x 112, centred.
  ASSERT_EQ(frame.logo_boxes.size(), 1u);
  EXPECT_NEAR(frame.logo_boxes[0].w, 339.95, 0.01);
  EXPECT_NEAR(frame.logo_boxes[0].h, 112, 0.01);
  EXPECT_NEAR(frame.logo_boxes[0].x, (960 - 339.95) / 2, 0.01);
  EXPECT_NEAR(frame.logo_boxes[0].y, 18, 0.01);
}

// Writes a `width` x `height` opaque PNG to `path`.
void WritePng(const std::string& path, int width, int height) {
  CairoSurface surface = CreateLayerSurface(width, height);
  CairoContext cr(cairo_create(surface.get()));
  cairo_set_source_rgb(cr.get(), 0.8, 0.2, 0.2);
  cairo_paint(cr.get());
  ASSERT_EQ(cairo_surface_write_to_png(surface.get(), path.c_str()), CAIRO_STATUS_SUCCESS);
}

TEST_F(PaintingTest, LogoBesideTheProgramReplacesTheBuiltInOne) {
  Open(1.0f);
  Enter(UpdatePhase::kStarting);
  testing::TempDir dir;
  WritePng(dir.Sub("logo.png"), 600, 100);
  Frame frame = Paint(*window, std::nullopt, dir.path());
  ASSERT_EQ(frame.logo_boxes.size(), 1u);
  EXPECT_NEAR(frame.logo_boxes[0].w, 400, 0.01);  // limited by its width
  EXPECT_NEAR(frame.logo_boxes[0].h, 66.67, 0.01);
  EXPECT_NEAR(frame.logo_boxes[0].x, 280, 0.01);
  EXPECT_TRUE(Near(frame.At(480, 50), 0xFFCC3333, 2)) << Hex(frame.At(480, 50));

  // Not an image, or a folder of that name: the built-in logo, silently.
  for (bool as_folder : {false, true}) {
    testing::TempDir other;
    if (as_folder) {
      ASSERT_TRUE(EnsureDirectory(other.Sub("logo.png")));
    } else {
      testing::WriteFile(other.Sub("logo.png"), "no soy una imagen");
    }
    frame = Paint(*window, std::nullopt, other.path());
    ASSERT_EQ(frame.logo_boxes.size(), 1u) << (as_folder ? "folder" : "text file");
    EXPECT_NEAR(frame.logo_boxes[0].h, 112, 0.01);
  }
}

TEST_F(PaintingTest, PartialPaintDrawsOnlyTheGroupsItMeets) {
  Open(1.5f);
  Enter(UpdatePhase::kDownloading);
  const PixelRect progress = ScaleRect(kProgressArea, 1.5f);
  Frame frame = Paint(*window, progress);
  EXPECT_NE(frame.FindText("Descargando data/mapa.pak"), nullptr);
  EXPECT_NE(frame.FindText("2.5 MB/s"), nullptr);
  EXPECT_EQ(frame.FindText("CANCELAR"), nullptr);
  EXPECT_EQ(frame.FindText("Website"), nullptr);
  EXPECT_EQ(frame.FindText("Cambiar"), nullptr);
  EXPECT_EQ(frame.FindText("Noticia número 1"), nullptr);
  // Outside the dirty rectangle the static layer shows through untouched.
  const PixelRect button = window->elements[kPrimaryButton].rect;
  EXPECT_NE(Hex(frame.At(button.left + 20, button.top + 10)), Hex(kButtonCancel.fill));

  frame = Paint(*window, window->elements[kDiscordLink].rect);
  ASSERT_EQ(frame.texts.size(), 1u);
  EXPECT_EQ(frame.texts[0].text, "Discord");
}

TEST_F(PaintingTest, EdgeFiguresOfProgressAndStatus) {
  Open(1.0f);
  // A download whose size is not known yet.
  Enter(UpdatePhase::kDownloading);
  state.progress.bytes_total = 0;
  state.progress.bytes_done = 0;
  Frame frame = Paint(*window);
  EXPECT_NE(frame.FindText("0 B de 0 B (0.0%)"), nullptr);
  EXPECT_EQ(Hex(frame.At(42, 511)), Hex(colors::kTrack));

  // No file left to fetch, only old files to remove.
  Enter(UpdatePhase::kUpdateAvailable);
  state.progress.update_files = 0;
  state.progress.update_bytes = 0;
  frame = Paint(*window);
  EXPECT_NE(frame.FindText("Actualización disponible · limpieza de archivos antiguos"), nullptr);
  EXPECT_NE(frame.FindText("Pendiente: 0 B"), nullptr);

  // The folder row and the renderer in use.
  const TextRecord* folder = frame.FindText("/home/jugador/Brisal Ascent");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->font, FontId::kSmall);
  EXPECT_NE(frame.FindText("Brisal Ascent \u00b7 v1.0"), nullptr);
  EXPECT_NE(frame.FindText(config.renderers[1].name), nullptr);
}

// A track of 610 x 6 pixels at (40, 6) on a surface painted in the track colour.
class ProgressBarTest : public ::testing::Test {
 protected:
  Frame Bar(double fraction) {
    Frame frame;
    frame.surface = CreateLayerSurface(700, 20);
    CairoContext cr(cairo_create(frame.surface.get()));
    cairo_set_source_rgb(cr.get(), 0x1B / 255.0, 0x1B / 255.0, 0x1E / 255.0);
    cairo_paint(cr.get());
    CairoCanvas canvas(frame.surface.get(), FontsFor(1.0f));
    DrawProgressBar(canvas, {40, 6, 610, 6}, fraction);
    return frame;
  }
  static constexpr PixelRect kWhole{0, 0, 700, 20};
};

TEST_F(ProgressBarTest, BelowOnePixelDrawsNothing) {
  for (double fraction : {0.0, 1.0 / 700, -0.5, std::nan("")}) {
    EXPECT_EQ(Bar(fraction).CountNear(kWhole, colors::kTrack, 0), 700 * 20) << fraction;
  }
}

TEST_F(ProgressBarTest, SmallFractionsWidenToAPill) {
  // 0.5 % is 3.05 pixels: drawn as a 6 x 6 circle-ended pill.
  Frame frame = Bar(0.005);
  EXPECT_FALSE(Near(frame.At(43, 9), colors::kTrack, 20));
  EXPECT_FALSE(Near(frame.At(44, 9), colors::kTrack, 20));
  EXPECT_EQ(Hex(frame.At(47, 9)), Hex(colors::kTrack));
  EXPECT_EQ(Hex(frame.At(43, 5)), Hex(colors::kTrack));   // above the track
  EXPECT_EQ(Hex(frame.At(43, 12)), Hex(colors::kTrack));  // below it
  // 2 % is 12.2 pixels.
  frame = Bar(0.02);
  EXPECT_FALSE(Near(frame.At(50, 9), colors::kTrack, 20));
  EXPECT_EQ(Hex(frame.At(53, 9)), Hex(colors::kTrack));
}

TEST_F(ProgressBarTest, GradientEndsBrightAtTheTip) {
  Frame frame = Bar(1.0);
  EXPECT_TRUE(Near(frame.At(41, 8), colors::kBarStart, 8)) << Hex(frame.At(41, 8));
  EXPECT_TRUE(Near(frame.At(646, 8), colors::kBarEnd, 8)) << Hex(frame.At(646, 8));
  EXPECT_TRUE(Near(frame.At(345, 8), Mix(colors::kBarStart, colors::kBarEnd, 0.5), 4));
  EXPECT_EQ(Hex(frame.At(652, 8)), Hex(colors::kTrack));
  // Beyond 1 is a full bar, never longer.
  EXPECT_EQ(Hex(Bar(3.0).At(652, 8)), Hex(colors::kTrack));
  // Half way, the tip is already the brightest colour.
  frame = Bar(0.5);
  EXPECT_TRUE(Near(frame.At(341, 8), colors::kBarEnd, 10)) << Hex(frame.At(341, 8));
  EXPECT_EQ(Hex(frame.At(350, 8)), Hex(colors::kTrack));
}

TEST(FontFamilyTest, FallsBackInThePreferredOrder) {
  EXPECT_FALSE(FontconfigHasFamily("Brisal No Such Family"));
  if (FontconfigHasFamily("Segoe UI")) {
    EXPECT_EQ(ChooseFontFamily(), "Segoe UI");
  } else if (FontconfigHasFamily("Arial")) {
    EXPECT_EQ(ChooseFontFamily(), "Arial");
  } else {
    EXPECT_EQ(ChooseFontFamily(), "sans-serif");
  }
  // The project's machines install fonts-liberation, whose Liberation Sans is declared
  // metric-compatible with Arial.
  if (FontconfigHasFamily("Liberation Sans")) {
    EXPECT_TRUE(FontconfigHasFamily("Arial"));
  }
}

}  // namespace
}  // namespace brisal

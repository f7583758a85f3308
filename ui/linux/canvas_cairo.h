// The Canvas on cairo, with text through pango and fonts through fontconfig. The
// window's static layer and back buffer are cairo image surfaces; so are the
// off-screen targets of the painting tests.
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "core/free_with.h"
#include "ui/canvas.h"
#include "ui/window_host.h"

namespace brisal {

using CairoSurface = OwningPtr<cairo_surface_t, cairo_surface_destroy>;
using CairoContext = OwningPtr<cairo_t, cairo_destroy>;
using PangoFont = OwningPtr<PangoFontDescription, pango_font_description_free>;

// Pango's contexts and layouts are GObjects.
template <typename T>
using GObjectPtr = OwningPtr<T, g_object_unref>;

// Whether fontconfig has `family` itself or a font declared metric-compatible with it
// (fonts-liberation's "Liberation Sans" stands in for "Arial" that way), rather than
// an unrelated fallback.
bool FontconfigHasFamily(const std::string& family);

// The first of the theme's preferred families the system has, else "sans-serif".
std::string ChooseFontFamily();

// The theme's five fonts in one family at one scale, made once per window.
class CairoFonts {
 public:
  CairoFonts(std::string family, float scale);
  const std::string& family() const { return family_; }
  const PangoFontDescription* Get(FontId id) const;

 private:
  std::string family_;
  std::array<PangoFont, kFontCount> fonts_;
};

// A 32-bit ARGB image surface of `width` x `height` pixels, transparent.
CairoSurface CreateLayerSurface(int width, int height);

// Copies `rect` of `from` onto `to` unchanged (no blending); both the same size.
void CopySurfaceRect(cairo_surface_t* from, cairo_surface_t* to, const PixelRect& rect);

// Decodes a PNG held in memory; null when it is not one.
CairoSurface DecodePngSurface(std::string_view bytes);

class CairoCanvas final : public Canvas {
 public:
  // Draws on `target`; with `clip`, nothing outside that rectangle changes.
  CairoCanvas(cairo_surface_t* target, const CairoFonts& fonts, const PixelRect* clip = nullptr);
  CairoCanvas(const CairoCanvas&) = delete;
  CairoCanvas& operator=(const CairoCanvas&) = delete;

  void FillPath(const Path& path, const Brush& brush) override;
  void StrokePath(const Path& path, Argb color, float width) override;
  void FillRect(const RectF& rect, const Brush& brush) override;
  void DrawLine(PointF from, PointF to, Argb color, float width) override;
  void DrawText(std::string_view utf8, FontId font, Argb color, const RectF& box,
                TextAlign align) override;
  std::unique_ptr<CanvasImage> DecodePng(std::string_view bytes) override;
  void DrawImage(const CanvasImage& image, const RectF& dest) override;

 private:
  void AppendPath(const Path& path);
  void SetSource(const Brush& brush);

  CairoContext cr_;
  const CairoFonts& fonts_;
  GObjectPtr<PangoContext> pango_;
};

}  // namespace brisal

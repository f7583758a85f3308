#include "ui/linux/canvas_cairo.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <strings.h>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "ui/theme.h"

namespace brisal {
namespace {

using FcPatternPtr = OwningPtr<FcPattern, FcPatternDestroy>;
using CairoPattern = OwningPtr<cairo_pattern_t, cairo_pattern_destroy>;

double Channel(Argb color, int shift) {
  return ((color >> shift) & 0xFF) / 255.0;
}

void SetColor(cairo_t* cr, Argb color) {
  cairo_set_source_rgba(cr, Channel(color, 16), Channel(color, 8), Channel(color, 0),
                        Channel(color, 24));
}

void AddStop(cairo_pattern_t* pattern, double offset, Argb color) {
  cairo_pattern_add_color_stop_rgba(pattern, offset, Channel(color, 16), Channel(color, 8),
                                    Channel(color, 0), Channel(color, 24));
}

double Radians(float degrees) {
  return degrees * std::numbers::pi / 180.0;
}

bool FamilyIs(FcPattern* pattern, const std::string& family) {
  FcChar8* name = nullptr;
  for (int i = 0; FcPatternGetString(pattern, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
    if (strcasecmp(reinterpret_cast<const char*>(name), family.c_str()) == 0) return true;
  }
  return false;
}

class CairoImage final : public CanvasImage {
 public:
  explicit CairoImage(CairoSurface surface) : surface_(std::move(surface)) {}
  int Width() const override { return cairo_image_surface_get_width(surface_.get()); }
  int Height() const override { return cairo_image_surface_get_height(surface_.get()); }
  cairo_surface_t* surface() const { return surface_.get(); }

 private:
  CairoSurface surface_;
};

struct PngReader {
  std::string_view bytes;
  std::size_t offset = 0;
};

cairo_status_t ReadPngBytes(void* closure, unsigned char* data, unsigned int length) {
  auto* reader = static_cast<PngReader*>(closure);
  if (reader->bytes.size() - reader->offset < length) return CAIRO_STATUS_READ_ERROR;
  std::copy_n(reader->bytes.data() + reader->offset, length, data);
  reader->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

bool FontconfigHasFamily(const std::string& family) {
  FcPatternPtr pattern(FcPatternCreate());
  if (!pattern) return false;
  FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  if (!FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern)) return false;
  FcDefaultSubstitute(pattern.get());
  FcResult result = FcResultNoMatch;
  FcPatternPtr match(FcFontMatch(nullptr, pattern.get(), &result));
  if (!match || result != FcResultMatch) return false;
  if (FamilyIs(match.get(), family)) return true;

  // Configuration adds metric-compatible replacements with "same" binding, which takes
  // the strong binding of the asked family; fallbacks that merely look alike or are
  // generic come with weak binding.
  FcChar8* matched = nullptr;
  if (FcPatternGetString(match.get(), FC_FAMILY, 0, &matched) != FcResultMatch) return false;
  FcValue value;
  FcValueBinding binding;
  for (int i = 0;
       FcPatternGetWithBinding(pattern.get(), FC_FAMILY, i, &value, &binding) == FcResultMatch;
       ++i) {
    if (value.type != FcTypeString || binding == FcValueBindingWeak) continue;
    if (strcasecmp(reinterpret_cast<const char*>(value.u.s),
                   reinterpret_cast<const char*>(matched)) == 0) {
      return true;
    }
  }
  return false;
}

std::string ChooseFontFamily() {
  for (const char* family : kPreferredFontFamilies) {
    if (FontconfigHasFamily(family)) return family;
  }
  return "sans-serif";
}

CairoFonts::CairoFonts(std::string family, float scale) : family_(std::move(family)) {
  for (int i = 0; i < kFontCount; ++i) {
    const FontSpec spec = FontSpecFor(static_cast<FontId>(i), scale);
    PangoFont font(pango_font_description_new());
    pango_font_description_set_family(font.get(), family_.c_str());
    pango_font_description_set_weight(font.get(),
                                      spec.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(font.get(), spec.pixel_size * PANGO_SCALE);
    fonts_[static_cast<std::size_t>(i)] = std::move(font);
  }
}

const PangoFontDescription* CairoFonts::Get(FontId id) const {
  return fonts_[static_cast<std::size_t>(id)].get();
}

CairoSurface CreateLayerSurface(int width, int height) {
  return CairoSurface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
}

void CopySurfaceRect(cairo_surface_t* from, cairo_surface_t* to, const PixelRect& rect) {
  CairoContext cr(cairo_create(to));
  cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr.get(), from, 0, 0);
  cairo_rectangle(cr.get(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  cairo_fill(cr.get());
  cairo_surface_flush(to);
}

CairoSurface DecodePngSurface(std::string_view bytes) {
  PngReader reader{bytes};
  CairoSurface surface(cairo_image_surface_create_from_png_stream(ReadPngBytes, &reader));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return surface;
}

CairoCanvas::CairoCanvas(cairo_surface_t* target, const CairoFonts& fonts, const PixelRect* clip)
    : cr_(cairo_create(target)), fonts_(fonts) {
  cairo_set_antialias(cr_.get(), CAIRO_ANTIALIAS_GOOD);
  if (clip != nullptr) {
    cairo_rectangle(cr_.get(), clip->left, clip->top, clip->right - clip->left,
                    clip->bottom - clip->top);
    cairo_clip(cr_.get());
  }
  pango_.reset(pango_cairo_create_context(cr_.get()));
  // Grey anti-aliasing and unhinted metrics: text looks the same on every screen and
  // in the off-screen tests, and its width scales exactly with the fonts.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(pango_.get(), options);
  cairo_font_options_destroy(options);
}

void CairoCanvas::AppendPath(const Path& path) {
  cairo_t* cr = cr_.get();
  cairo_new_path(cr);
  bool figure_open = false;
  for (const Path::Segment& s : path.segments()) {
    switch (s.kind) {
      case Path::Kind::kArc: {
        if (!figure_open) cairo_new_sub_path(cr);
        figure_open = true;
        const double rx = s.box.w / 2.0;
        const double ry = s.box.h / 2.0;
        const double cx = s.box.x + rx;
        const double cy = s.box.y + ry;
        if (rx <= 0 || ry <= 0) {
          // A degenerate arc is its centre; scaling by zero would break the context.
          cairo_line_to(cr, cx, cy);
          break;
        }
        cairo_matrix_t saved;
        cairo_get_matrix(cr, &saved);
        cairo_translate(cr, cx, cy);
        cairo_scale(cr, rx, ry);
        const double a0 = Radians(s.start);
        const double a1 = Radians(s.start + s.sweep);
        if (s.sweep >= 0) {
          cairo_arc(cr, 0, 0, 1, a0, a1);
        } else {
          cairo_arc_negative(cr, 0, 0, 1, a0, a1);
        }
        cairo_set_matrix(cr, &saved);
        break;
      }
      case Path::Kind::kEllipse: {
        if (s.box.w <= 0 || s.box.h <= 0) break;
        cairo_matrix_t saved;
        cairo_get_matrix(cr, &saved);
        cairo_new_sub_path(cr);
        cairo_translate(cr, s.box.x + s.box.w / 2.0, s.box.y + s.box.h / 2.0);
        cairo_scale(cr, s.box.w / 2.0, s.box.h / 2.0);
        cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
        cairo_close_path(cr);
        cairo_set_matrix(cr, &saved);
        figure_open = false;
        break;
      }
      case Path::Kind::kRectangle:
        cairo_rectangle(cr, s.box.x, s.box.y, s.box.w, s.box.h);
        figure_open = false;
        break;
      case Path::Kind::kClose:
        if (figure_open) cairo_close_path(cr);
        figure_open = false;
        break;
    }
  }
}

void CairoCanvas::SetSource(const Brush& brush) {
  cairo_t* cr = cr_.get();
  switch (brush.kind) {
    case Brush::Kind::kSolid:
      SetColor(cr, brush.color);
      return;
    case Brush::Kind::kLinear: {
      CairoPattern pattern(
          cairo_pattern_create_linear(brush.from.x, brush.from.y, brush.to.x, brush.to.y));
      AddStop(pattern.get(), 0, brush.color);
      AddStop(pattern.get(), 1, brush.color2);
      cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD);
      cairo_set_source(cr, pattern.get());
      return;
    }
    case Brush::Kind::kEllipseGlow: {
      const RectF& e = brush.ellipse;
      if (e.w <= 0 || e.h <= 0) {
        cairo_set_source_rgba(cr, 0, 0, 0, 0);
        return;
      }
      // A unit circle's radial gradient, stretched onto the ellipse.
      CairoPattern pattern(cairo_pattern_create_radial(0, 0, 0, 0, 0, 1));
      AddStop(pattern.get(), 0, brush.color);
      AddStop(pattern.get(), 1, brush.color2);
      cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_NONE);
      cairo_matrix_t matrix;
      cairo_matrix_init_translate(&matrix, e.x + e.w / 2.0, e.y + e.h / 2.0);
      cairo_matrix_scale(&matrix, e.w / 2.0, e.h / 2.0);
      cairo_matrix_invert(&matrix);
      cairo_pattern_set_matrix(pattern.get(), &matrix);
      cairo_set_source(cr, pattern.get());
      return;
    }
  }
}

void CairoCanvas::FillPath(const Path& path, const Brush& brush) {
  AppendPath(path);
  SetSource(brush);
  cairo_fill(cr_.get());
}

void CairoCanvas::StrokePath(const Path& path, Argb color, float width) {
  AppendPath(path);
  SetColor(cr_.get(), color);
  cairo_set_line_width(cr_.get(), width);
  cairo_stroke(cr_.get());
}

void CairoCanvas::FillRect(const RectF& rect, const Brush& brush) {
  cairo_new_path(cr_.get());
  cairo_rectangle(cr_.get(), rect.x, rect.y, rect.w, rect.h);
  SetSource(brush);
  cairo_fill(cr_.get());
}

void CairoCanvas::DrawLine(PointF from, PointF to, Argb color, float width) {
  cairo_t* cr = cr_.get();
  cairo_new_path(cr);
  cairo_move_to(cr, from.x, from.y);
  cairo_line_to(cr, to.x, to.y);
  SetColor(cr, color);
  cairo_set_line_width(cr, width);
  cairo_stroke(cr);
}

void CairoCanvas::DrawText(std::string_view utf8, FontId font, Argb color, const RectF& box,
                           TextAlign align) {
  if (utf8.empty()) return;
  GObjectPtr<PangoLayout> layout(pango_layout_new(pango_.get()));
  pango_layout_set_font_description(layout.get(), fonts_.Get(font));
  pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
  pango_layout_set_text(layout.get(), utf8.data(), static_cast<int>(utf8.size()));
  pango_layout_set_width(layout.get(), box.w > 0 ? static_cast<int>(box.w * PANGO_SCALE) : 0);
  pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
  PangoAlignment alignment = PANGO_ALIGN_LEFT;
  if (align == TextAlign::kCenter) alignment = PANGO_ALIGN_CENTER;
  if (align == TextAlign::kFar) alignment = PANGO_ALIGN_RIGHT;
  pango_layout_set_alignment(layout.get(), alignment);

  PangoRectangle logical;
  pango_layout_get_extents(layout.get(), nullptr, &logical);
  const double text_height = static_cast<double>(logical.height) / PANGO_SCALE;
  cairo_t* cr = cr_.get();
  cairo_new_path(cr);
  cairo_move_to(cr, box.x, box.y + (box.h - text_height) / 2);
  SetColor(cr, color);
  pango_cairo_show_layout(cr, layout.get());
}

std::unique_ptr<CanvasImage> CairoCanvas::DecodePng(std::string_view bytes) {
  CairoSurface surface = DecodePngSurface(bytes);
  if (!surface) return nullptr;
  return std::make_unique<CairoImage>(std::move(surface));
}

void CairoCanvas::DrawImage(const CanvasImage& image, const RectF& dest) {
  const auto* cairo_image = dynamic_cast<const CairoImage*>(&image);
  if (cairo_image == nullptr || image.Width() <= 0 || image.Height() <= 0) return;
  if (dest.w <= 0 || dest.h <= 0) return;
  cairo_t* cr = cr_.get();
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_translate(cr, dest.x, dest.y);
  cairo_scale(cr, dest.w / image.Width(), dest.h / image.Height());
  cairo_set_source_surface(cr, cairo_image->surface(), 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_rectangle(cr, 0, 0, image.Width(), image.Height());
  cairo_fill(cr);
  cairo_restore(cr);
}

}  // namespace brisal

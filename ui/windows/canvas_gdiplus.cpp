#include "ui/windows/canvas_gdiplus.h"

#include <shlwapi.h>

#include <cmath>
#include <utility>
#include <vector>

#include "core/free_with.h"
#include "core/text.h"
#include "ui/theme.h"

namespace brisal {
namespace {

Gdiplus::Color ToColor(Argb argb) {
  return Gdiplus::Color(static_cast<Gdiplus::ARGB>(argb));
}

void AppendPath(Gdiplus::GraphicsPath& out, const Path& path) {
  for (const Path::Segment& s : path.segments()) {
    switch (s.kind) {
      case Path::Kind::kArc:
        if (s.box.w <= 0 || s.box.h <= 0) {
          // A degenerate arc is its centre, as on cairo.
          const float cx = s.box.x + s.box.w / 2;
          const float cy = s.box.y + s.box.h / 2;
          out.AddLine(cx, cy, cx, cy);
        } else {
          out.AddArc(s.box.x, s.box.y, s.box.w, s.box.h, s.start, s.sweep);
        }
        break;
      case Path::Kind::kEllipse:
        if (s.box.w > 0 && s.box.h > 0) out.AddEllipse(s.box.x, s.box.y, s.box.w, s.box.h);
        out.StartFigure();
        break;
      case Path::Kind::kRectangle:
        out.AddRectangle(Gdiplus::RectF(s.box.x, s.box.y, s.box.w, s.box.h));
        out.StartFigure();
        break;
      case Path::Kind::kClose:
        out.CloseFigure();
        break;
    }
  }
}

class GdiplusImage final : public CanvasImage {
 public:
  explicit GdiplusImage(std::unique_ptr<Gdiplus::Bitmap> bitmap) : bitmap_(std::move(bitmap)) {}
  int Width() const override { return static_cast<int>(bitmap_->GetWidth()); }
  int Height() const override { return static_cast<int>(bitmap_->GetHeight()); }
  Gdiplus::Bitmap* bitmap() const { return bitmap_.get(); }

 private:
  std::unique_ptr<Gdiplus::Bitmap> bitmap_;
};

// A quadrilateral as a closed path, for clipping.
void AddQuad(Gdiplus::GraphicsPath& path, const std::array<Gdiplus::PointF, 4>& corners) {
  path.AddPolygon(corners.data(), 4);
}

// Deleting a generic family is allowed (GDI+ ignores it for its cached ones).
using FlatFontFamily = OwningPtr<Gdiplus::GpFontFamily, Gdiplus::DllExports::GdipDeleteFontFamily>;

}  // namespace

GdiplusSession::GdiplusSession() {
  Gdiplus::GdiplusStartupInput input;  // version 1, no callback, background thread, codecs
  Gdiplus::GdiplusStartup(&token_, &input, nullptr);
}

GdiplusSession::~GdiplusSession() {
  if (token_ != 0) Gdiplus::GdiplusShutdown(token_);
}

std::unique_ptr<Gdiplus::FontFamily> ChooseGdiplusFamily(std::wstring& name) {
  // A missing family is reported through the object's status; GDI+ never substitutes
  // one silently here, so this is what is really installed.
  for (const char* preferred : kPreferredFontFamilies) {
    name = Utf8ToWide(preferred);
    auto family = std::make_unique<Gdiplus::FontFamily>(name.c_str());
    if (family->GetLastStatus() != Gdiplus::Ok) continue;
    // Only the first family's regular style is examined, as the look was designed
    // around it; any Arial will do.
    if (name == L"Segoe UI" && !family->IsStyleAvailable(Gdiplus::FontStyleRegular)) continue;
    return family;
  }
  // The system's generic sans-serif family, taken by its name so that the family
  // object is ours. (The C++ wrapper's cached GenericSansSerif is not safe to use.)
  Gdiplus::GpFontFamily* raw_generic = nullptr;
  WCHAR buffer[LF_FACESIZE] = {};
  if (Gdiplus::DllExports::GdipGetGenericFontFamilySansSerif(&raw_generic) == Gdiplus::Ok &&
      raw_generic != nullptr) {
    FlatFontFamily generic(raw_generic);
    if (Gdiplus::DllExports::GdipGetFamilyName(generic.get(), buffer, LANG_NEUTRAL) ==
        Gdiplus::Ok) {
      name = buffer;
      return std::make_unique<Gdiplus::FontFamily>(buffer);
    }
  }
  // A system without even the generic family's font (Wine without its own fonts)
  // would show no text at all: any installed family with a regular style is better.
  Gdiplus::InstalledFontCollection installed;
  const INT count = installed.GetFamilyCount();
  if (count <= 0) return nullptr;
  std::vector<Gdiplus::FontFamily> families(static_cast<std::size_t>(count));
  INT found = 0;
  installed.GetFamilies(count, families.data(), &found);
  for (INT i = 0; i < found; ++i) {
    Gdiplus::FontFamily& family = families[static_cast<std::size_t>(i)];
    if (!family.IsStyleAvailable(Gdiplus::FontStyleRegular)) continue;
    if (family.GetFamilyName(buffer) != Gdiplus::Ok) continue;
    name = buffer;
    return std::make_unique<Gdiplus::FontFamily>(buffer);
  }
  return nullptr;
}

GdiplusFonts::GdiplusFonts(float scale) : family_(ChooseGdiplusFamily(family_name_)) {
  for (int i = 0; i < kFontCount; ++i) {
    const FontSpec spec = FontSpecFor(static_cast<FontId>(i), scale);
    fonts_[static_cast<std::size_t>(i)] = std::make_unique<Gdiplus::Font>(
        family_.get(), spec.pixel_size,
        spec.bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
  }
  const Gdiplus::StringAlignment alignments[] = {
      Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentFar};
  for (std::size_t i = 0; i < formats_.size(); ++i) {
    // One line, never clipped to its box, ellipsis when too long.
    auto format = std::make_unique<Gdiplus::StringFormat>(
        Gdiplus::StringFormatFlagsNoWrap | Gdiplus::StringFormatFlagsNoClip, LANG_NEUTRAL);
    format->SetAlignment(alignments[i]);
    format->SetLineAlignment(Gdiplus::StringAlignmentCenter);
    format->SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
    formats_[i] = std::move(format);
  }
}

const Gdiplus::Font& GdiplusFonts::Get(FontId id) const {
  return *fonts_[static_cast<std::size_t>(id)];
}

const Gdiplus::StringFormat& GdiplusFonts::Format(TextAlign align) const {
  switch (align) {
    case TextAlign::kCenter:
      return *formats_[1];
    case TextAlign::kFar:
      return *formats_[2];
    case TextAlign::kNear:
      break;
  }
  return *formats_[0];
}

void CopySurfaceRect(const DibSurface& from, const DibSurface& to, const PixelRect& rect) {
  BitBlt(to.dc(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, from.dc(),
         rect.left, rect.top, SRCCOPY);
}

std::unique_ptr<Gdiplus::Bitmap> DecodePngBitmap(std::string_view bytes) {
  static constexpr unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < sizeof kSignature ||
      !std::equal(std::begin(kSignature), std::end(kSignature),
                  reinterpret_cast<const unsigned char*>(bytes.data()))) {
    return nullptr;  // GDI+ would also take other formats; the logo must be a PNG
  }
  // The stream holds a copy of the bytes; the clone holds its own pixels, so nothing
  // decoded depends on the stream once it is released.
  ComPtr<IStream> stream;
  *stream.Put() = SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()),
                                    static_cast<UINT>(bytes.size()));
  if (!stream) return nullptr;
  std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream.get()));
  if (!decoded || decoded->GetLastStatus() != Gdiplus::Ok) return nullptr;
  const auto width = static_cast<INT>(decoded->GetWidth());
  const auto height = static_cast<INT>(decoded->GetHeight());
  if (width <= 0 || height <= 0) return nullptr;
  std::unique_ptr<Gdiplus::Bitmap> copy(decoded->Clone(0, 0, width, height, PixelFormat32bppPARGB));
  if (!copy || copy->GetLastStatus() != Gdiplus::Ok) return nullptr;
  return copy;
}

GdiplusCanvas::GdiplusCanvas(const DibSurface& target, const GdiplusFonts& fonts,
                             const PixelRect* clip)
    : fonts_(fonts),
      extent_(static_cast<float>(target.width() + target.height())),
      bitmap_(target.width(), target.height(), target.stride(), PixelFormat32bppPARGB,
              (GdiFlush(), target.bits())),
      graphics_(&bitmap_) {
  graphics_.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  // Pixel (x, y) covers [x, x+1) x [y, y+1), as on cairo. GDI+'s half-pixel offset
  // mode is that model; the same shift written as a transform gives it also on
  // renderers that ignore the mode (Wine's rounds every coordinate to whole pixels,
  // which put each 1-pixel outline one pixel right of and below its edge).
  graphics_.SetPixelOffsetMode(Gdiplus::PixelOffsetModeNone);
  graphics_.TranslateTransform(-0.5f, -0.5f);
  graphics_.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics_.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
  graphics_.SetCompositingMode(Gdiplus::CompositingModeSourceOver);
  if (clip != nullptr) {
    graphics_.SetClip(
        Gdiplus::Rect(clip->left, clip->top, clip->right - clip->left, clip->bottom - clip->top));
  }
}

void GdiplusCanvas::Fill(const Gdiplus::GraphicsPath& path, const Brush& brush) {
  switch (brush.kind) {
    case Brush::Kind::kSolid: {
      Gdiplus::SolidBrush solid(ToColor(brush.color));
      graphics_.FillPath(&solid, &path);
      return;
    }
    case Brush::Kind::kLinear: {
      const float dx = brush.to.x - brush.from.x;
      const float dy = brush.to.y - brush.from.y;
      const float length = std::hypot(dx, dy);
      if (length <= 0) {
        Gdiplus::SolidBrush solid(ToColor(brush.color2));
        graphics_.FillPath(&solid, &path);
        return;
      }
      // GDI+ repeats a linear gradient beyond its ends; the canvas promises that the
      // end colours continue. So the shape is filled in three bands along the
      // gradient, each clipped to its half-plane or strip: the first colour before
      // `from`, the gradient between, the second colour after `to`. Clips are not
      // anti-aliased, so each pixel falls in exactly one band.
      const float ux = dx / length;
      const float uy = dy / length;
      const float px = -uy * extent_;  // across the gradient, far beyond the target
      const float py = ux * extent_;
      const Gdiplus::PointF a(brush.from.x, brush.from.y);
      const Gdiplus::PointF b(brush.to.x, brush.to.y);
      const Gdiplus::PointF before(a.X - ux * extent_, a.Y - uy * extent_);
      const Gdiplus::PointF after(b.X + ux * extent_, b.Y + uy * extent_);
      auto quad = [&](Gdiplus::PointF p, Gdiplus::PointF q) {
        return std::array<Gdiplus::PointF, 4>{
            Gdiplus::PointF(p.X - px, p.Y - py), Gdiplus::PointF(p.X + px, p.Y + py),
            Gdiplus::PointF(q.X + px, q.Y + py), Gdiplus::PointF(q.X - px, q.Y - py)};
      };
      Gdiplus::LinearGradientBrush gradient(a, b, ToColor(brush.color), ToColor(brush.color2));
      Gdiplus::SolidBrush first(ToColor(brush.color));
      Gdiplus::SolidBrush second(ToColor(brush.color2));
      const std::pair<std::array<Gdiplus::PointF, 4>, const Gdiplus::Brush*> bands[] = {
          {quad(before, a), &first}, {quad(a, b), &gradient}, {quad(b, after), &second}};
      for (const auto& [corners, band_brush] : bands) {
        Gdiplus::GraphicsPath strip;
        AddQuad(strip, corners);
        const Gdiplus::GraphicsState saved = graphics_.Save();
        graphics_.SetClip(&strip, Gdiplus::CombineModeIntersect);
        graphics_.FillPath(band_brush, &path);
        graphics_.Restore(saved);
      }
      return;
    }
    case Brush::Kind::kEllipseGlow: {
      const RectF& e = brush.ellipse;
      if (e.w <= 0 || e.h <= 0) return;
      Gdiplus::GraphicsPath ellipse;
      ellipse.AddEllipse(e.x, e.y, e.w, e.h);
      // Nothing outside the ellipse: a path gradient paints only inside its path.
      Gdiplus::PathGradientBrush glow(&ellipse);
      glow.SetCenterColor(ToColor(brush.color));
      Gdiplus::Color edge = ToColor(brush.color2);
      INT count = 1;
      glow.SetSurroundColors(&edge, &count);
      graphics_.FillPath(&glow, &path);
      return;
    }
  }
}

void GdiplusCanvas::FillPath(const Path& path, const Brush& brush) {
  Gdiplus::GraphicsPath gdi_path;
  AppendPath(gdi_path, path);
  Fill(gdi_path, brush);
}

void GdiplusCanvas::StrokePath(const Path& path, Argb color, float width) {
  Gdiplus::GraphicsPath gdi_path;
  AppendPath(gdi_path, path);
  Gdiplus::Pen pen(ToColor(color), width);
  graphics_.DrawPath(&pen, &gdi_path);
}

void GdiplusCanvas::FillRect(const RectF& rect, const Brush& brush) {
  Gdiplus::GraphicsPath gdi_path;
  gdi_path.AddRectangle(Gdiplus::RectF(rect.x, rect.y, rect.w, rect.h));
  Fill(gdi_path, brush);
}

void GdiplusCanvas::DrawLine(PointF from, PointF to, Argb color, float width) {
  Gdiplus::Pen pen(ToColor(color), width);
  graphics_.DrawLine(&pen, from.x, from.y, to.x, to.y);
}

void GdiplusCanvas::DrawText(std::string_view utf8, FontId font, Argb color, const RectF& box,
                             TextAlign align) {
  if (utf8.empty()) return;
  const std::wstring text = Utf8ToWide(std::string(utf8));
  Gdiplus::SolidBrush brush(ToColor(color));
  graphics_.DrawString(text.c_str(), static_cast<INT>(text.size()), &fonts_.Get(font),
                       Gdiplus::RectF(box.x, box.y, box.w, box.h), &fonts_.Format(align), &brush);
}

std::unique_ptr<CanvasImage> GdiplusCanvas::DecodePng(std::string_view bytes) {
  std::unique_ptr<Gdiplus::Bitmap> bitmap = DecodePngBitmap(bytes);
  if (!bitmap) return nullptr;
  return std::make_unique<GdiplusImage>(std::move(bitmap));
}

void GdiplusCanvas::DrawImage(const CanvasImage& image, const RectF& dest) {
  const auto* gdi_image = dynamic_cast<const GdiplusImage*>(&image);
  if (gdi_image == nullptr || image.Width() <= 0 || image.Height() <= 0) return;
  if (dest.w <= 0 || dest.h <= 0) return;
  // The image's edge pixels continue outward while filtering, as on cairo, instead of
  // fading into transparency at the border.
  Gdiplus::ImageAttributes attributes;
  attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  graphics_.DrawImage(gdi_image->bitmap(), Gdiplus::RectF(dest.x, dest.y, dest.w, dest.h), 0, 0,
                      static_cast<Gdiplus::REAL>(image.Width()),
                      static_cast<Gdiplus::REAL>(image.Height()), Gdiplus::UnitPixel, &attributes);
}

}  // namespace brisal

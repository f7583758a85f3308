// The Canvas on GDI+, drawing into a DibSurface through a GDI+ bitmap over the
// surface's own pixels. The pixel model is the cairo canvas's (half-pixel offset:
// pixel (x, y) covers [x, x+1) x [y, y+1)) and so is the memory layout (premultiplied
// ARGB), so the two platforms' renderings can be compared point by point.
//
// REQUIRES: GDI+ started (GdiplusSession) for as long as any object here exists.
#pragma once

#include "ui/windows/windows_api.h"
// WIN32_LEAN_AND_MEAN leaves out the COM declarations GDI+ builds on.
#include <objidl.h>
// GDI+'s headers expect min and max, which NOMINMAX takes away.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "ui/canvas.h"
#include "ui/window_host.h"
#include "ui/windows/win32_objects.h"

namespace brisal {

// GDI+ started for the scope's lifetime.
class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

 private:
  ULONG_PTR token_ = 0;
};

// "Segoe UI" when it really has its regular style, else "Arial", else the generic
// sans-serif family; the name of the one chosen.
std::unique_ptr<Gdiplus::FontFamily> ChooseGdiplusFamily(std::wstring& name);

// The theme's five fonts and three one-line string formats at one scale, made once
// per window.
class GdiplusFonts {
 public:
  explicit GdiplusFonts(float scale);
  const Gdiplus::Font& Get(FontId id) const;
  const Gdiplus::StringFormat& Format(TextAlign align) const;
  const std::wstring& family_name() const { return family_name_; }

 private:
  std::wstring family_name_;
  std::unique_ptr<Gdiplus::FontFamily> family_;
  std::array<std::unique_ptr<Gdiplus::Font>, kFontCount> fonts_;
  std::array<std::unique_ptr<Gdiplus::StringFormat>, 3> formats_;
};

// Copies `rect` of `from` onto `to` unchanged; both the same size.
void CopySurfaceRect(const DibSurface& from, const DibSurface& to, const PixelRect& rect);

class GdiplusCanvas final : public Canvas {
 public:
  // Draws on `target`; with `clip`, nothing outside that rectangle changes.
  GdiplusCanvas(const DibSurface& target, const GdiplusFonts& fonts,
                const PixelRect* clip = nullptr);
  GdiplusCanvas(const GdiplusCanvas&) = delete;
  GdiplusCanvas& operator=(const GdiplusCanvas&) = delete;

  void FillPath(const Path& path, const Brush& brush) override;
  void StrokePath(const Path& path, Argb color, float width) override;
  void FillRect(const RectF& rect, const Brush& brush) override;
  void DrawLine(PointF from, PointF to, Argb color, float width) override;
  void DrawText(std::string_view utf8, FontId font, Argb color, const RectF& box,
                TextAlign align) override;
  std::unique_ptr<CanvasImage> DecodePng(std::string_view bytes) override;
  void DrawImage(const CanvasImage& image, const RectF& dest) override;

 private:
  void Fill(const Gdiplus::GraphicsPath& path, const Brush& brush);

  const GdiplusFonts& fonts_;
  float extent_;  // width + height of the target: how far gradient ends must reach
  Gdiplus::Bitmap bitmap_;
  Gdiplus::Graphics graphics_;
};

// Decodes a PNG held in memory into a GDI+ bitmap of its own; null when it is not one.
std::unique_ptr<Gdiplus::Bitmap> DecodePngBitmap(std::string_view bytes);

}  // namespace brisal

// What the painter asks of a drawing library (cairo + pango on Linux, GDI+ on
// Windows): filled and outlined paths, gradients, lines, one-line text in a box, and
// PNG images. The painter owns all geometry; a canvas only draws what it is told.
//
// Coordinates are floating-point pixels with pixel (x, y) covering the square
// [x, x+1) x [y, y+1): a 1-pixel line on x + 0.5 fills exactly column x. Shapes are
// anti-aliased. Colours are 32-bit ARGB, not premultiplied.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace brisal {

using Argb = std::uint32_t;

struct PointF {
  float x = 0;
  float y = 0;
};

struct RectF {
  float x = 0;
  float y = 0;
  float w = 0;
  float h = 0;
};

// A list of figures. Each arc is joined to the figure's previous point by a straight
// line, as in GDI+ and cairo, so a figure of arcs needs no explicit lines.
class Path {
 public:
  enum class Kind { kArc, kEllipse, kRectangle, kClose };
  struct Segment {
    Kind kind;
    RectF box;        // the arc's or ellipse's bounding box, or the rectangle
    float start = 0;  // degrees, clockwise from the positive x axis (y points down)
    float sweep = 0;  // degrees, clockwise
  };

  // An elliptical arc of the ellipse inscribed in `box`.
  void AddArc(const RectF& box, float start_degrees, float sweep_degrees) {
    segments_.push_back({Kind::kArc, box, start_degrees, sweep_degrees});
  }
  // A whole closed ellipse inscribed in `box`, as a figure of its own.
  void AddEllipse(const RectF& box) { segments_.push_back({Kind::kEllipse, box}); }
  // A closed axis-aligned rectangle, as a figure of its own.
  void AddRectangle(const RectF& box) { segments_.push_back({Kind::kRectangle, box}); }
  // Closes the current figure back to its first point.
  void CloseFigure() { segments_.push_back({Kind::kClose, {}}); }

  const std::vector<Segment>& segments() const { return segments_; }

 private:
  std::vector<Segment> segments_;
};

struct Brush {
  enum class Kind {
    kSolid,
    // From `from` in `color` to `to` in `color2`, constant across the other axis;
    // beyond the ends the end colours continue.
    kLinear,
    // From `color` at the centre of `ellipse` to `color2` on its edge; nothing is
    // painted outside the ellipse.
    kEllipseGlow,
  };
  Kind kind = Kind::kSolid;
  Argb color = 0;
  Argb color2 = 0;
  PointF from;
  PointF to;
  RectF ellipse;

  static Brush Solid(Argb c) { return {Kind::kSolid, c, c, {}, {}, {}}; }
  static Brush Linear(PointF from, Argb c_from, PointF to, Argb c_to) {
    return {Kind::kLinear, c_from, c_to, from, to, {}};
  }
  static Brush EllipseGlow(const RectF& ellipse, Argb centre, Argb edge) {
    return {Kind::kEllipseGlow, centre, edge, {}, {}, ellipse};
  }
};

// The five fonts of the theme; their family and sizes are fixed when the canvas's
// fonts are made (see theme.h).
enum class FontId { kText, kLabel, kSmall, kTitle, kButton };
inline constexpr int kFontCount = 5;

enum class TextAlign { kNear, kCenter, kFar };

// A decoded image, owned by whoever decoded it.
class CanvasImage {
 public:
  virtual ~CanvasImage() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
};

class Canvas {
 public:
  virtual ~Canvas() = default;

  virtual void FillPath(const Path& path, const Brush& brush) = 0;
  virtual void StrokePath(const Path& path, Argb color, float width) = 0;
  virtual void FillRect(const RectF& rect, const Brush& brush) = 0;
  virtual void DrawLine(PointF from, PointF to, Argb color, float width) = 0;

  // One line of UTF-8 text, vertically centred in `box` and aligned horizontally as
  // asked; a text wider than the box ends in "…". Not clipped to the box.
  virtual void DrawText(std::string_view utf8, FontId font, Argb color, const RectF& box,
                        TextAlign align) = 0;

  // Null when the bytes are not a PNG image the library can read.
  virtual std::unique_ptr<CanvasImage> DecodePng(std::string_view bytes) = 0;
  // The whole image scaled into `dest` with high-quality filtering, alpha respected.
  virtual void DrawImage(const CanvasImage& image, const RectF& dest) = 0;
};

}  // namespace brisal

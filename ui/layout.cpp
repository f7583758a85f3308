#include "ui/layout.h"

#include <algorithm>
#include <cmath>

namespace brisal {
namespace {

constexpr std::array<PixelRect, kElementCount> kDesignElements = {{
    {868, 0, 914, 32},     // minimise
    {914, 0, 960, 32},     // close
    {40, 62, 136, 92},     // Website
    {146, 62, 242, 92},    // Registrarse
    {718, 62, 814, 92},    // Discord
    {0, 0, 0, 0},          // no element
    {690, 444, 920, 476},  // renderer selector
    {690, 486, 920, 546},  // primary button
    {524, 572, 588, 594},  // Cambiar
    {604, 572, 736, 594},  // Verificar archivos
    {41, 190, 919, 236},   // news rows, 46 units apart
    {41, 236, 919, 282},
    {41, 282, 919, 328},
    {41, 328, 919, 374},
    {41, 374, 919, 420},
    {350, 444, 650, 462},  // speed figure and limit, the box its text is drawn in
}};

int RoundEdge(float scale, int edge) {
  return static_cast<int>(std::lround(scale * static_cast<float>(edge)));
}

}  // namespace

PixelRect ScaleRect(const PixelRect& design, float scale) {
  return {RoundEdge(scale, design.left), RoundEdge(scale, design.top),
          RoundEdge(scale, design.right), RoundEdge(scale, design.bottom)};
}

RectF ScaleBox(float x, float y, float w, float h, float scale) {
  return {scale * x, scale * y, scale * w, scale * h};
}

void ComputeLayout(float scale, ElementTable& elements) {
  for (int i = 0; i < kElementCount; ++i) {
    elements[i].rect = ScaleRect(kDesignElements[i], scale);
  }
}

float ComputeScale(float dpi_scale, int work_width, int work_height) {
  const float fit = std::min(static_cast<float>(work_height - 16) / kDesignHeight,
                             static_cast<float>(work_width - 16) / kDesignWidth);
  return std::max(kMinimumScale, std::min(dpi_scale, fit));
}

WindowPlacement PlaceWindow(float scale, const PixelRect& work_area) {
  WindowPlacement placement;
  placement.width = static_cast<int>(std::lround(kDesignWidth * scale));
  placement.height = static_cast<int>(std::lround(kDesignHeight * scale));
  const int work_width = work_area.right - work_area.left;
  const int work_height = work_area.bottom - work_area.top;
  placement.x = work_area.left + (work_width - placement.width) / 2;
  placement.y = work_area.top + (work_height - placement.height) / 2;
  return placement;
}

bool Contains(const PixelRect& rect, int x, int y) {
  return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

bool Intersects(const PixelRect& a, const PixelRect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

int HitTest(const ElementTable& elements, int x, int y) {
  for (int i = 0; i < kElementCount; ++i) {
    if (i == kUnusedElement) continue;
    if (i >= kFirstNewsRow && !elements[i].enabled) continue;
    if (Contains(elements[i].rect, x, y)) return i;
  }
  return kNoElement;
}

bool IsDragPoint(const ElementTable& elements, float scale, int width, int height, int x, int y) {
  if (x < 0 || x >= width || y < 0 || y >= height) return false;
  if (HitTest(elements, x, y) != kNoElement) return false;
  return y < static_cast<int>(scale * kDragAreaHeight);
}

}  // namespace brisal

// Where everything sits. The window is designed at 960 x 612 units; a unit becomes
// `scale` pixels. Interactive elements are whole-pixel rectangles, each edge rounded
// on its own to the nearest pixel (halves away from zero); everything else is drawn
// at unrounded float positions.
#pragma once

#include <array>

#include "ui/canvas.h"
#include "ui/window_host.h"

namespace brisal {

inline constexpr int kDesignWidth = 960;
inline constexpr int kDesignHeight = 612;
// The scale never drops below this, even when the window then exceeds the work area.
inline constexpr float kMinimumScale = 0.6f;

// Indices of the element table. Index 5 holds no element: never drawn, never hit.
enum ElementIndex : int {
  kMinimizeButton = 0,
  kCloseButton = 1,
  kWebsiteLink = 2,
  kRegisterLink = 3,
  kDiscordLink = 4,
  kUnusedElement = 5,
  kRendererSelector = 6,
  kPrimaryButton = 7,
  kChangeFolderButton = 8,
  kVerifyButton = 9,
  kFirstNewsRow = 10,
};
inline constexpr int kNewsRowCount = 5;
// The download speed figure above the file bar: a click steps through the limits.
inline constexpr int kSpeedLimitControl = kFirstNewsRow + kNewsRowCount;
inline constexpr int kElementCount = kSpeedLimitControl + 1;
inline constexpr int kNoElement = -1;

struct UiElement {
  PixelRect rect;
  bool enabled = true;
};
using ElementTable = std::array<UiElement, kElementCount>;

// Areas repainted as a whole, in design units (right and bottom exclusive).
inline constexpr PixelRect kNewsPanelArea{40, 150, 920, 424};
inline constexpr PixelRect kLowerArea{40, 440, 920, 600};
inline constexpr PixelRect kProgressArea{40, 440, 652, 552};
inline constexpr PixelRect kFolderRowArea{40, 570, 920, 596};
// Where the status line is drawn: a notice set outside a phase change (a failed
// launch, an unconfigured link, a refused folder) repaints exactly this.
inline constexpr PixelRect kStatusLineArea{40, 520, 652, 550};
// Painting tests this area before drawing the news list.
inline constexpr PixelRect kNewsListArea{41, 189, 919, 423};
// Only the top of the window moves it when dragged.
inline constexpr int kDragAreaHeight = 150;

// A design-unit rectangle in pixels, each edge rounded separately.
PixelRect ScaleRect(const PixelRect& design, float scale);

// (x, y, w, h) in design units as unrounded float pixels.
RectF ScaleBox(float x, float y, float w, float h, float scale);

// Fills every element's rectangle from `scale`; enabled flags are left alone.
void ComputeLayout(float scale, ElementTable& elements);

// The desktop's DPI scale, limited so the window fits the work area with an 8-pixel
// margin on each side, and never below kMinimumScale.
float ComputeScale(float dpi_scale, int work_width, int work_height);

struct WindowPlacement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The window's pixel size at `scale`, centred in the work area. Coordinates may be
// negative when the minimum scale makes the window larger than the work area.
WindowPlacement PlaceWindow(float scale, const PixelRect& work_area);

bool Contains(const PixelRect& rect, int x, int y);
bool Intersects(const PixelRect& a, const PixelRect& b);

// The first element containing the point, in index order; disabled news rows and
// index 5 are never found. kNoElement when none.
int HitTest(const ElementTable& elements, int x, int y);

// Whether a press at client point (x, y) moves the window: inside the client area,
// on no element, and above the news panel.
bool IsDragPoint(const ElementTable& elements, float scale, int width, int height, int x, int y);

}  // namespace brisal

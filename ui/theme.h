// The launcher's look: the font family order, the five fonts and the colours. Sizes
// are in pixels at scale 1; fonts are made once, at the window's scale, and never
// rebuilt, so text keeps its size for the whole run.
#pragma once

#include <array>
#include <string>

#include "ui/canvas.h"

namespace brisal {

// Families in order of preference; a backend takes the first its system really has
// and otherwise its generic sans-serif family.
inline constexpr std::array<const char*, 2> kPreferredFontFamilies = {"Segoe UI", "Arial"};

struct FontSpec {
  float pixel_size = 0;
  bool bold = false;
};

// The font of `id` at `scale`.
FontSpec FontSpecFor(FontId id, float scale);

// Appends one closed rounded rectangle to `path`: four quarter arcs of radius `radius`
// joined by the straight edges. A radius above half the width or height is used as
// given, never reduced.
void AddRoundedRect(Path& path, const RectF& rect, float radius);

namespace colors {
inline constexpr Argb kBackgroundTop = 0xFF121214;
inline constexpr Argb kBackgroundBottom = 0xFF070708;
inline constexpr Argb kGlowCentre = 0x783A3A42;
inline constexpr Argb kGlowEdge = 0x00000000;
inline constexpr Argb kPanelFill = 0xEB0D0D0F;
inline constexpr Argb kLine = 0xFF28282D;  // panel outline, heading rule, window frame
inline constexpr Argb kTextLabel = 0xFF9C9CA4;
inline constexpr Argb kTextDim = 0xFF5C5C64;
inline constexpr Argb kTextBright = 0xFFEDEDF0;
inline constexpr Argb kTextHighlight = 0xFFD98080;
inline constexpr Argb kTrack = 0xFF1B1B1E;
inline constexpr Argb kBarStart = 0xFF6E6E78;
inline constexpr Argb kBarEnd = 0xFFEDEDF2;
inline constexpr Argb kHotClose = 0xFF7A2630;
inline constexpr Argb kHotMinimize = 0xFF25252A;
inline constexpr Argb kGlyph = 0xFF9C9CA4;
inline constexpr Argb kGlyphHot = 0xFFFFFFFF;
inline constexpr Argb kNewsRowHot = 0xFF151518;
inline constexpr Argb kNewsSeparator = 0xFF1A1A1D;
inline constexpr Argb kPillFill = 0xFF161619;
inline constexpr Argb kPillOutline = 0xFF34343A;
inline constexpr Argb kPillText = 0xFFB4B4BC;
inline constexpr Argb kChevronEnabled = 0xFF9C9CA4;
inline constexpr Argb kChevronDisabled = 0xFF5C5C64;

// Buttons.
inline constexpr Argb kPrimaryTop = 0xFFF0F0F3;
inline constexpr Argb kPrimaryBottom = 0xFFB6B6BF;
inline constexpr Argb kPrimaryHotTop = 0xFFFFFFFF;
inline constexpr Argb kPrimaryHotBottom = 0xFFD4D4DA;
inline constexpr Argb kPrimaryPressedTop = 0xFFA9A9B2;
inline constexpr Argb kPrimaryPressedBottom = 0xFF8A8A94;
inline constexpr Argb kPrimaryLabel = 0xFF0A0A0B;
}  // namespace colors

// Solid button colours for every case but an enabled primary button.
struct ButtonColors {
  Argb fill;
  Argb outline;
  Argb label;
};
inline constexpr ButtonColors kButtonDisabled{0xFF141416, 0xFF222226, 0xFF5C5C64};
inline constexpr ButtonColors kButtonPressed{0xFF0E0E10, 0xFF4A4A52, 0xFFFFFFFF};
inline constexpr ButtonColors kButtonHovered{0xFF1E1E22, 0xFF4A4A52, 0xFFFFFFFF};
inline constexpr ButtonColors kButtonCancel{0xFF18181B, 0xFF5A5A62, 0xFFEDEDF0};
inline constexpr ButtonColors kButtonSecondary{0xFF131316, 0xFF28282D, 0xFFCFCFD4};

}  // namespace brisal

#include "ui/theme.h"

namespace brisal {

FontSpec FontSpecFor(FontId id, float scale) {
  switch (id) {
    case FontId::kText:
      return {scale * 13, false};
    case FontId::kLabel:
      return {scale * 12, false};
    case FontId::kSmall:
      return {scale * 11, false};
    case FontId::kTitle:
      return {scale * 13, true};
    case FontId::kButton:
      return {scale * 20, true};
  }
  return {scale * 13, false};
}

void AddRoundedRect(Path& path, const RectF& rect, float radius) {
  const float d = 2 * radius;
  path.AddArc({rect.x, rect.y, d, d}, 180, 90);
  path.AddArc({rect.x + rect.w - d, rect.y, d, d}, 270, 90);
  path.AddArc({rect.x + rect.w - d, rect.y + rect.h - d, d, d}, 0, 90);
  path.AddArc({rect.x, rect.y + rect.h - d, d, d}, 90, 90);
  path.CloseFigure();
}

}  // namespace brisal

#include "ui/painter.h"

#include <algorithm>
#include <cstdint>

#include "core/files.h"
#include "core/paths.h"
#include "core/text.h"
#include "resources/artwork.h"
#include "ui/layout.h"
#include "shared_state/status_text.h"
#include "ui/theme.h"

namespace brisal {
namespace {

// "NOTICIAS" spread with U+2009 THIN SPACE between the letters.
constexpr std::string_view kNewsHeading = "N\u2009O\u2009T\u2009I\u2009C\u2009I\u2009A\u2009S";
constexpr std::string_view kFooter = "Brisal Ascent \u00b7 v1.0";
constexpr float kNewsRowPitch = 46;

RectF Box(const LauncherWindow& w, float x, float y, float width, float height) {
  return ScaleBox(x, y, width, height, w.scale);
}

PointF Point(const LauncherWindow& w, float x, float y) {
  return {w.scale * x, w.scale * y};
}

bool Meets(const LauncherWindow& w, const PixelRect& dirty, const PixelRect& design_area) {
  return Intersects(dirty, ScaleRect(design_area, w.scale));
}

bool MeetsElement(const LauncherWindow& w, const PixelRect& dirty, int index) {
  return Intersects(dirty, w.elements[index].rect);
}

PointF Centre(const PixelRect& r) {
  return {static_cast<float>(r.left + r.right) / 2, static_cast<float>(r.top + r.bottom) / 2};
}

RectF ToRectF(const PixelRect& r) {
  return {static_cast<float>(r.left), static_cast<float>(r.top),
          static_cast<float>(r.right - r.left), static_cast<float>(r.bottom - r.top)};
}

void FillAndOutlineRounded(Canvas& canvas, const RectF& rect, float radius, Argb fill,
                           Argb outline) {
  Path path;
  AddRoundedRect(path, rect, radius);
  canvas.FillPath(path, Brush::Solid(fill));
  canvas.StrokePath(path, outline, 1);
}

void PaintTitleGlyphs(Canvas& canvas, const LauncherWindow& w) {
  const float d = w.scale * 5;
  const float pen = w.scale * 1.4f;
  for (int index : {kMinimizeButton, kCloseButton}) {
    const PixelRect& rect = w.elements[index].rect;
    const bool hot = w.hot_element == index;
    if (hot) {
      const Argb fill = index == kCloseButton ? colors::kHotClose : colors::kHotMinimize;
      canvas.FillRect(ToRectF(rect), Brush::Solid(fill));
    }
    const Argb color = hot ? colors::kGlyphHot : colors::kGlyph;
    const PointF c = Centre(rect);
    if (index == kMinimizeButton) {
      const float y = c.y + w.scale * 3;
      canvas.DrawLine({c.x - d, y}, {c.x + d, y}, color, pen);
    } else {
      canvas.DrawLine({c.x - d, c.y - d}, {c.x + d, c.y + d}, color, pen);
      canvas.DrawLine({c.x - d, c.y + d}, {c.x + d, c.y - d}, color, pen);
    }
  }
}

void PaintNews(Canvas& canvas, const LauncherWindow& w, const PixelRect& dirty) {
  if (w.news.empty()) {
    canvas.DrawText("Sin noticias por ahora", FontId::kText, colors::kTextDim,
                    Box(w, 40, 190, 880, 230), TextAlign::kCenter);
    return;
  }
  const int shown = std::min(static_cast<int>(w.news.size()), kNewsRowCount);
  for (int k = 0; k < shown; ++k) {
    const int index = kFirstNewsRow + k;
    if (!MeetsElement(w, dirty, index)) continue;
    const NewsItem& item = w.news[static_cast<std::size_t>(k)];
    const float y = 190 + kNewsRowPitch * static_cast<float>(k);
    if (w.hot_element == index) {
      canvas.FillRect(ToRectF(w.elements[index].rect), Brush::Solid(colors::kNewsRowHot));
    }
    if (k > 0) {
      canvas.DrawLine(Point(w, 52, y), Point(w, 908, y), colors::kNewsSeparator, 1);
    }
    const RectF pill = Box(w, 58, y + 13, 78, 20);
    FillAndOutlineRounded(canvas, pill, w.scale * 4, colors::kPillFill, colors::kPillOutline);
    canvas.DrawText(item.tag.empty() ? std::string_view("Noticia") : std::string_view(item.tag),
                    FontId::kSmall, colors::kPillText, pill, TextAlign::kCenter);
    canvas.DrawText(item.title, FontId::kTitle, colors::kTextBright, Box(w, 152, y, 660, 46),
                    TextAlign::kNear);
    canvas.DrawText(item.date, FontId::kLabel, colors::kTextDim, Box(w, 780, y, 122, 46),
                    TextAlign::kFar);
  }
}

// "20 MB/s" for the window's own choices, the nearest size for one edited by hand.
std::string SpeedLimitText(std::uint32_t kib) {
  if (kib % 1024 == 0) return StringPrintf("%u MB/s", kib / 1024);
  return FormatSize(std::uint64_t{kib} * 1024) + "/s";
}

double Fraction(std::uint64_t part, std::uint64_t whole) {
  return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

void PaintProgress(Canvas& canvas, const LauncherWindow& w, UpdatePhase phase,
                   const ProgressSnapshot& progress) {
  double file_fraction = 0;
  double total_fraction = 0;
  std::string speed_text;
  std::string total_text;
  switch (phase) {
    case UpdatePhase::kDownloading:
      file_fraction = Fraction(progress.file_done, progress.file_size);
      total_fraction = Fraction(progress.bytes_done, progress.bytes_total);
      speed_text = FormatSize(static_cast<std::uint64_t>(w.speed)) + "/s";
      total_text = StringPrintf("%s de %s (%.1f%%)", FormatSize(progress.bytes_done).c_str(),
                                FormatSize(progress.bytes_total).c_str(), total_fraction * 100);
      break;
    case UpdatePhase::kVerifying:
      total_fraction = Fraction(progress.files_done, progress.files_total);
      total_text = StringPrintf("%u de %u archivos", progress.files_done, progress.files_total);
      break;
    case UpdatePhase::kUpToDate:
      file_fraction = 1;
      total_fraction = 1;
      total_text = "100%";
      break;
    case UpdatePhase::kNotInstalled:
    case UpdatePhase::kUpdateAvailable:
      total_text = "Pendiente: " + FormatSize(w.state->progress.update_bytes.load());
      break;
    default:
      break;
  }
  // The limit is shown once the player set one; without one, only while the pointer
  // is on the figure, so the figure itself says it can be clicked.
  const bool hot = w.hot_element == kSpeedLimitControl;
  const std::uint32_t limit_kib = w.settings.download_limit_kib;
  if (limit_kib != 0 || hot) {
    if (speed_text.empty()) {
      speed_text = limit_kib == 0 ? "Velocidad sin límite" : "Límite: " + SpeedLimitText(limit_kib);
    } else {
      speed_text +=
          limit_kib == 0 ? " \u00b7 sin límite" : " \u00b7 máx. " + SpeedLimitText(limit_kib);
    }
  }
  canvas.DrawText(speed_text, FontId::kLabel, hot ? colors::kTextBright : colors::kTextLabel,
                  Box(w, 350, 444, 300, 18), TextAlign::kFar);
  canvas.DrawText(total_text, FontId::kLabel, colors::kTextLabel, Box(w, 250, 486, 400, 18),
                  TextAlign::kFar);
  DrawProgressBar(canvas, Box(w, 40, 466, 610, 6), file_fraction);
  DrawProgressBar(canvas, Box(w, 40, 508, 610, 6), total_fraction);

  const StatusLine status = ComposeStatusLine(*w.state, w.notice);
  canvas.DrawText(status.text, FontId::kText,
                  status.highlighted ? colors::kTextHighlight : colors::kTextBright,
                  Box(w, 40, 526, 610, 22), TextAlign::kNear);
}

void PaintRendererSelector(Canvas& canvas, const LauncherWindow& w) {
  const auto& renderers = w.config.renderers;
  const bool known =
      w.settings.renderer >= 0 && static_cast<std::size_t>(w.settings.renderer) < renderers.size();
  DrawButton(canvas, w, kRendererSelector,
             known ? renderers[static_cast<std::size_t>(w.settings.renderer)].name : "",
             ButtonStyle::kSecondary);
  const UiElement& element = w.elements[kRendererSelector];
  const Argb color = element.enabled ? colors::kChevronEnabled : colors::kChevronDisabled;
  const float pen = w.scale * 1.5f;
  const float x0 = static_cast<float>(element.rect.right) - w.scale * 16;
  const float cy = Centre(element.rect).y;
  const float s2 = w.scale * 2;
  const float s4 = w.scale * 4;
  canvas.DrawLine({x0 - s4, cy - s2}, {x0, cy + s2}, color, pen);
  canvas.DrawLine({x0, cy + s2}, {x0 + s4, cy - s2}, color, pen);
}

void PaintFolderRow(Canvas& canvas, const LauncherWindow& w) {
  canvas.DrawText(w.install_folder, FontId::kSmall, colors::kTextLabel, Box(w, 88, 572, 430, 22),
                  TextAlign::kNear);
  DrawButton(canvas, w, kChangeFolderButton, "Cambiar", ButtonStyle::kSecondary);
  DrawButton(canvas, w, kVerifyButton, "Verificar archivos", ButtonStyle::kSecondary);
  canvas.DrawText(kFooter, FontId::kSmall, colors::kTextDim, Box(w, 760, 572, 160, 22),
                  TextAlign::kFar);
}

}  // namespace

std::unique_ptr<CanvasImage> LoadLogo(Canvas& canvas, const std::string& exe_folder) {
  const std::string path = JoinPath(exe_folder, "logo.png");
  FileInfo info;
  std::string bytes;
  if (GetFileInfo(path, info) && !info.is_directory && ReadWholeFile(path, bytes)) {
    if (auto image = canvas.DecodePng(bytes)) return image;
  }
  return canvas.DecodePng(BuiltinLogoPng());
}

void PaintStatic(Canvas& canvas, const LauncherWindow& w, const CanvasImage* logo) {
  const auto width = static_cast<float>(w.width);
  const auto height = static_cast<float>(w.height);
  canvas.FillRect({0, 0, width, height}, Brush::Linear({0, 0}, colors::kBackgroundTop, {0, height},
                                                       colors::kBackgroundBottom));
  canvas.FillRect(
      Box(w, 0, 0, 960, 230),
      Brush::EllipseGlow(Box(w, 160, -80, 640, 300), colors::kGlowCentre, colors::kGlowEdge));

  if (logo != nullptr && logo->Width() > 0 && logo->Height() > 0) {
    const auto image_w = static_cast<float>(logo->Width());
    const auto image_h = static_cast<float>(logo->Height());
    const float f = std::min(w.scale * 112 / image_h, w.scale * 400 / image_w);
    canvas.DrawImage(*logo, {(width - image_w * f) / 2, w.scale * 18, image_w * f, image_h * f});
  }

  FillAndOutlineRounded(canvas, Box(w, 40, 150, 880, 274), w.scale * 6, colors::kPanelFill,
                        colors::kLine);
  canvas.DrawLine({w.scale * 40 + 1, w.scale * 188},
                  {w.scale * 40 + w.scale * 880 - 1, w.scale * 188}, colors::kLine, 1);
  canvas.DrawText(kNewsHeading, FontId::kLabel, colors::kTextLabel, Box(w, 40, 152, 880, 34),
                  TextAlign::kCenter);
  canvas.DrawText("Progreso del archivo", FontId::kLabel, colors::kTextLabel,
                  Box(w, 40, 444, 300, 18), TextAlign::kNear);
  canvas.DrawText("Progreso total", FontId::kLabel, colors::kTextLabel, Box(w, 40, 486, 300, 18),
                  TextAlign::kNear);
  for (float y : {466.0f, 508.0f}) {
    Path track;
    AddRoundedRect(track, Box(w, 40, y, 610, 6), w.scale * 3);
    canvas.FillPath(track, Brush::Solid(colors::kTrack));
  }
  canvas.DrawText("Carpeta:", FontId::kSmall, colors::kTextDim, Box(w, 40, 572, 46, 22),
                  TextAlign::kNear);

  // Through the centres of the outermost pixels, so the frame is exactly one pixel.
  Path frame;
  frame.AddRectangle({0.5f, 0.5f, width - 1, height - 1});
  canvas.StrokePath(frame, colors::kLine, 1);
}

void PaintDynamic(Canvas& canvas, const LauncherWindow& w, const PixelRect& dirty) {
  const UpdatePhase phase = CurrentPhase(*w.state);
  const ProgressSnapshot progress = TakeSnapshot(*w.state);

  if (MeetsElement(w, dirty, kMinimizeButton) || MeetsElement(w, dirty, kCloseButton)) {
    PaintTitleGlyphs(canvas, w);
  }
  if (MeetsElement(w, dirty, kWebsiteLink)) {
    DrawButton(canvas, w, kWebsiteLink, "Website", ButtonStyle::kSecondary);
  }
  if (MeetsElement(w, dirty, kRegisterLink)) {
    DrawButton(canvas, w, kRegisterLink, "Registrarse", ButtonStyle::kSecondary);
  }
  if (MeetsElement(w, dirty, kDiscordLink)) {
    DrawButton(canvas, w, kDiscordLink, "Discord", ButtonStyle::kSecondary);
  }
  if (Meets(w, dirty, kNewsListArea)) PaintNews(canvas, w, dirty);
  if (Meets(w, dirty, kProgressArea)) PaintProgress(canvas, w, phase, progress);
  if (MeetsElement(w, dirty, kRendererSelector)) PaintRendererSelector(canvas, w);
  if (MeetsElement(w, dirty, kPrimaryButton)) {
    const PrimaryButtonSpec spec = PrimarySpec(phase);
    DrawButton(canvas, w, kPrimaryButton, spec.label, spec.style);
  }
  if (Meets(w, dirty, kFolderRowArea)) PaintFolderRow(canvas, w);
}

void DrawButton(Canvas& canvas, const LauncherWindow& w, int index, std::string_view label,
                ButtonStyle style) {
  const UiElement& element = w.elements[index];
  const bool hovered = w.hot_element == index && element.enabled;
  const bool pressed = w.pressed_element == index && hovered;
  const PixelRect& r = element.rect;
  const RectF shape{static_cast<float>(r.left) + 0.5f, static_cast<float>(r.top) + 0.5f,
                    static_cast<float>(r.right - r.left - 1),
                    static_cast<float>(r.bottom - r.top - 1)};
  Path path;
  AddRoundedRect(path, shape, w.scale * (style == ButtonStyle::kPrimary ? 7.0f : 5.0f));

  if (style == ButtonStyle::kPrimary && element.enabled) {
    Argb top = colors::kPrimaryTop;
    Argb bottom = colors::kPrimaryBottom;
    if (pressed) {
      top = colors::kPrimaryPressedTop;
      bottom = colors::kPrimaryPressedBottom;
    } else if (hovered) {
      top = colors::kPrimaryHotTop;
      bottom = colors::kPrimaryHotBottom;
    }
    canvas.FillPath(path, Brush::Linear({0, shape.y}, top, {0, shape.y + shape.h}, bottom));
    canvas.DrawText(label, FontId::kButton, colors::kPrimaryLabel, shape, TextAlign::kCenter);
    return;
  }

  ButtonColors palette = kButtonSecondary;
  if (!element.enabled) {
    palette = kButtonDisabled;
  } else if (pressed) {
    palette = kButtonPressed;
  } else if (hovered) {
    palette = kButtonHovered;
  } else if (style == ButtonStyle::kCancel) {
    palette = kButtonCancel;
  }
  canvas.FillPath(path, Brush::Solid(palette.fill));
  canvas.StrokePath(path, palette.outline, 1);
  canvas.DrawText(label, style == ButtonStyle::kSecondary ? FontId::kLabel : FontId::kButton,
                  palette.label, shape, TextAlign::kCenter);
}

void DrawProgressBar(Canvas& canvas, const RectF& rect, double fraction) {
  // NaN compares false everywhere, so it is caught here rather than drawn.
  const double f = fraction >= 0 ? std::min(fraction, 1.0) : 0.0;
  float fill = static_cast<float>(f * static_cast<double>(rect.w));
  if (fill < 1) return;
  fill = std::max(fill, rect.h);
  Path path;
  AddRoundedRect(path, {rect.x, rect.y, fill, rect.h}, rect.h / 2);
  canvas.FillPath(path, Brush::Linear({rect.x, 0}, colors::kBarStart,
                                      {rect.x + std::max(2.0f, fill), 0}, colors::kBarEnd));
}

}  // namespace brisal

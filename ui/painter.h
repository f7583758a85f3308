// Draws the window: the static layer once at start, and on every paint the dynamic
// content of the dirty rectangle over a copy of it. Painting never fails visibly: a
// drawing call that fails is simply not seen.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ui/canvas.h"
#include "ui/launcher_window.h"
#include "ui/primary_button.h"
#include "ui/window_host.h"

namespace brisal {

// The logo drawn at the top: logo.png in `exe_folder` when it is a readable PNG,
// else the built-in one; null when neither decodes.
std::unique_ptr<CanvasImage> LoadLogo(Canvas& canvas, const std::string& exe_folder);

// Background, glow, logo (may be null), news panel frame, fixed labels, progress
// tracks and the window frame.
void PaintStatic(Canvas& canvas, const LauncherWindow& window, const CanvasImage* logo);

// Everything that changes, limited to the groups that meet `dirty` (pixels). Reads
// the phase, a progress snapshot and the status text from the shared state.
void PaintDynamic(Canvas& canvas, const LauncherWindow& window, const PixelRect& dirty);

// One element as a button, coloured by style, enabled flag, hover and press.
void DrawButton(Canvas& canvas, const LauncherWindow& window, int index, std::string_view label,
                ButtonStyle style);

// A progress fill over the track `rect` (pixels): nothing below one pixel, at least
// a circle-ended pill of the track's height, brightest at its tip.
void DrawProgressBar(Canvas& canvas, const RectF& rect, double fraction);

}  // namespace brisal

// Starting the game client from the window's primary action (JUGAR).
#pragma once

#include <string>

#include "config/launcher_config.h"
#include "ui/layout.h"
#include "ui/window_host.h"

namespace brisal {

// Starts the client of renderer `renderer_index` from `install_folder` with the
// configured client_args. On success the window is closed (close_on_play) or
// minimised and `notice` is left as it is; on failure `notice` gets the Spanish
// sentence and the status line is repainted. Nothing is logged.
// REQUIRES: the user-interface thread; `renderer_index` within config.renderers (an
// index outside it does nothing).
void LaunchClient(const LauncherConfig& config, int renderer_index,
                  const std::string& install_folder, float scale, WindowHost& host,
                  std::string& notice);

// kStatusLineArea multiplied by `scale`, each edge rounded to the nearest pixel.
PixelRect ScaledStatusLineArea(float scale);

}  // namespace brisal

// Starting the game client (JUGAR). What the window does afterwards (close, minimise,
// show the failure) is the window's business; this only starts the process.
#pragma once

#include <string>

#include "config/launcher_config.h"
#include "core/messages.h"

namespace brisal {

// Starts the client of renderer `renderer_index` from `install_folder` with the
// configured client_args, the install folder as its current folder. Returns true when
// the process started. On failure returns false with what the player must be told in
// `error`; an index outside config.renderers starts nothing and leaves `error` empty.
// Nothing is logged.
bool LaunchClient(const LauncherConfig& config, int renderer_index,
                  const std::string& install_folder, Message& error);

}  // namespace brisal

#pragma once

#include <string>

#include "config/launcher_config.h"

namespace brisal {

// The install folder used when the player has chosen none: the configured install_dir
// as given when it is absolute, else below the executable's folder; the "client"
// folder in the data folder when nothing is configured.
std::string ResolveInstallDir(const LauncherConfig& config);

}  // namespace brisal

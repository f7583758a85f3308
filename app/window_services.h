// The real jobs and services behind the window, the same on both platforms: the
// update check, the news, the update job, the client launch, the settings file and
// a monotonic clock.
#pragma once

#include "shared_state/launcher_state.h"
#include "ui/launcher_window.h"

namespace brisal {

WindowServices LauncherServices(LauncherState& state);

}  // namespace brisal

// The launcher window on SDL2 (Linux): a borderless window centred in the work area,
// drawn with cairo, with jobs' notifications and timers arriving as SDL user events.
#pragma once

#include <functional>

#include "ui/launcher_window.h"

namespace brisal {

// Creates the window for `window`, shows it, calls `on_shown` once it is visible,
// and runs the event loop until the window closes. Returns the exit code: 0 after a
// close, 1 when the window could not be created.
// REQUIRES: the program's first thread; at most one call per process.
int RunWindowSdl(LauncherWindow& window, const std::function<void()>& on_shown);

// Asks the running window to restore itself and come to the front. Safe from any
// thread; does nothing before RunWindowSdl has created the window.
void RequestRaiseSdl();

}  // namespace brisal

// The status line under the news: what the launcher is doing, in the player's words.
// Shared by the window and brisal-cli so both say exactly the same thing.
#pragma once

#include <string>

#include "core/messages.h"

namespace brisal {

struct LauncherState;

struct StatusLine {
  std::string text;
  bool highlighted = false;  // notices, the offline and the error texts
};

// What the current phase says of itself, with its figures; empty in the offline and
// failed phases, whose words the engine set (StatusText).
Message PhaseMessage(LauncherState& state);

// `notice`, when not empty, replaces the phase's own text.
StatusLine ComposeStatusLine(LauncherState& state, const std::string& notice);

}  // namespace brisal

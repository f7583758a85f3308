// The status line under the news: what the launcher is doing, in the player's words.
// Shared by the window and brisal-cli so both say exactly the same thing.
#pragma once

#include <string>

namespace brisal {

struct LauncherState;

struct StatusLine {
  std::string text;
  bool highlighted = false;  // notices, the offline and the error texts
};

// `notice`, when not empty, replaces the phase's own text.
StatusLine ComposeStatusLine(LauncherState& state, const std::string& notice);

}  // namespace brisal

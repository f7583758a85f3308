// The desktop's own folder picker on Linux: the XDG desktop portal's FileChooser over
// D-Bus (GIO) when a portal answers, else zenity, else kdialog.
//
// Every function here blocks its thread until the player answers, which may take
// minutes: the window calls them on a thread of their own (window_host_sdl.cpp).
#pragma once

#include <string>

namespace brisal {

enum class PickOutcome {
  kChosen,       // `chosen` holds the folder
  kCancelled,    // the player closed the picker without choosing
  kUnavailable,  // this picker could not be shown; the next one may be tried
};

// `parent_window` identifies the launcher's window to the portal ("x11:<hex id>"), so
// the picker stays above it; empty when unknown.
PickOutcome PickFolderWithPortal(const std::string& title, const std::string& parent_window,
                                 std::string& chosen);

// zenity, or kdialog when zenity is not installed or cannot show a window; both are
// looked up on PATH.
PickOutcome PickFolderWithDialogTool(const std::string& title, std::string& chosen);

// The portal first, the dialog tools when no portal answers.
PickOutcome PickFolderOnDesktop(const std::string& title, const std::string& parent_window,
                                std::string& chosen);

}  // namespace brisal

// The system's file-open dialog in folder mode (COM), modal over the launcher window.
// REQUIRES: the calling thread is a COM single-threaded apartment (the UI thread).
#pragma once

#include "ui/windows/windows_api.h"

#include <string>

namespace brisal {

// Shows the dialog titled `title` (UTF-8) over `owner` and waits for it: file-system
// folders only, the path must exist. True with the chosen path (UTF-8) in `chosen`;
// false when the player cancelled or the dialog could not be made or shown. While it
// is open, the dialog's own loop keeps dispatching the launcher window's messages.
bool PickFolderWithDialog(HWND owner, const std::string& title, std::string& chosen);

}  // namespace brisal

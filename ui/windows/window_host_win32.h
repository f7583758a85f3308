// The launcher window on Win32: a borderless custom-drawn popup of class
// "BrisalLauncherWnd", centred in the work area, drawn with GDI+ into a static layer
// and a back buffer, with jobs' notifications arriving as WM_APP + 1.
#pragma once

#include "ui/windows/windows_api.h"

#include "ui/launcher_window.h"

namespace brisal {

// The class a later start looks for to bring the running launcher forward.
inline constexpr wchar_t kWindowClassName[] = L"BrisalLauncherWnd";
// Posted by the jobs' notifier (wParam 0, lParam 0): pull a fresh view of the state.
inline constexpr UINT kStateChangedMessage = WM_APP + 1;

// Creates the window for `window`, shows it and pumps messages until the window is
// destroyed. Returns the quit message's code (0 after a close), or 1 when the window
// could not be created.
// REQUIRES: the program's first thread, a COM single-threaded apartment, GDI+ started;
// at most one call per process.
int RunWindowWin32(HINSTANCE instance, LauncherWindow& window);

}  // namespace brisal

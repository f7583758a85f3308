// brisal-launcher.exe: one instance per session, COM and GDI+ for the user-interface
// thread, the configuration beside the executable over the built-in defaults, the
// player's settings, and the window. The process ends with ExitProcess, so job
// threads still running are never waited for.
#include "ui/windows/windows_api.h"
// After <windows.h>.
#include <objbase.h>

#include <memory>
#include <string>
#include <utility>

#include "app/single_instance_win32.h"
#include "app/window_services.h"
#include "config/launcher_config.h"
#include "config/user_settings.h"
#include "core/paths.h"
#include "shared_state/launcher_state.h"
#include "ui/launcher_window.h"
#include "ui/windows/canvas_gdiplus.h"
#include "ui/windows/window_host_win32.h"

namespace brisal {
namespace {

// GDI+ lives exactly as long as the window; the window object is gone when this
// returns.
int RunUi(HINSTANCE instance, LauncherState& state, const LauncherConfig& config,
          UserSettings settings, const Message& config_message) {
  GdiplusSession gdiplus;
  LauncherWindow window(state, config, std::move(settings), config_message,
                        LauncherServices(state));
  return RunWindowWin32(instance, window);
}

}  // namespace
}  // namespace brisal

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace brisal;
  // Never destroyed: detached job threads may use it until ExitProcess ends them.
  std::unique_ptr<LauncherState> state;
  int exit_code = 0;
  {
    SingleInstanceMutex instance_mutex;
    if (!instance_mutex.AcquireFirst()) {
      // Another launcher runs; it comes to the front if it has a window yet. Either
      // way this start ends silently, with nothing else initialised.
      RaiseExistingWindow(kWindowClassName);
      return 0;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    LauncherConfig config = DefaultConfig();
    Message config_message;
    LoadConfig(JoinPath(ExeFolder(), "config.json"), config, config_message);
    state = std::make_unique<LauncherState>();
    UserSettings settings = LoadSettings();
    exit_code = RunUi(instance, *state, config, std::move(settings), config_message);
    CoUninitialize();
  }
  // Job threads are never joined: the process ends here, without running the static
  // destructors under threads that may still be using what they destroy.
  ExitProcess(static_cast<UINT>(exit_code));
}

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

#include "app/launcher_start.h"
#include "app/single_instance_win32.h"
#include "app/window_services.h"
#include "config/launcher_config.h"
#include "config/user_settings.h"
#include "core/paths.h"
#include "core/platform.h"
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

// One run as the first instance. kRestart: a newer program was put in place and
// should start instead (the mutex is released on return).
StartDecision RunAsFirst(HINSTANCE instance, std::unique_ptr<LauncherState>& state,
                         const std::string& self, bool may_update, int& exit_code) {
  SingleInstanceMutex instance_mutex;
  if (!instance_mutex.AcquireFirst()) {
    // Another launcher runs; it comes to the front if it has a window yet. Either way
    // this start ends silently, with nothing else initialised.
    RaiseExistingWindow(kWindowClassName);
    exit_code = 0;
    return StartDecision::kRunWindow;
  }
  if (may_update && PutNewLauncherInPlace(self) == StartDecision::kRestart) {
    return StartDecision::kRestart;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  LauncherConfig config = DefaultConfig();
  Message config_message;
  LoadConfig(JoinPath(ExeFolder(), "config.json"), config, config_message);
  state = std::make_unique<LauncherState>();
  UserSettings settings = LoadSettings();
  exit_code = RunUi(instance, *state, config, std::move(settings), config_message);
  CoUninitialize();
  return StartDecision::kRunWindow;
}

// --version from a GUI program: the output goes where the caller redirected it, else
// to the console the program was started from; without either there is no one to
// tell.
void PrintVersion() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  }
  const std::string line = VersionLine();
  DWORD written = 0;
  WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace
}  // namespace brisal

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  using namespace brisal;
  if (command_line != nullptr && std::wstring(command_line) == L"--version") {
    PrintVersion();
    ExitProcess(0);
  }
  // Never destroyed: detached job threads may use it until ExitProcess ends them.
  std::unique_ptr<LauncherState> state;
  const std::string self = platform::ExecutablePath();
  int exit_code = 0;
  if (RunAsFirst(instance, state, self, true, exit_code) == StartDecision::kRestart &&
      !StartNewLauncher(self)) {
    // The new program is in place for the next start; this one serves the player now.
    RunAsFirst(instance, state, self, false, exit_code);
  }
  // Job threads are never joined: the process ends here, without running the static
  // destructors under threads that may still be using what they destroy.
  ExitProcess(static_cast<UINT>(exit_code));
}

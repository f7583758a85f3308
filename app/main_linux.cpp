// brisal-launcher on Linux: one instance per session, the configuration beside the
// executable over the built-in defaults, the player's settings, and the window.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "app/launcher_start.h"
#include "app/single_instance_posix.h"
#include "app/window_services.h"
#include "config/launcher_config.h"
#include "config/user_settings.h"
#include "core/paths.h"
#include "core/platform.h"
#include "shared_state/launcher_state.h"
#include "ui/launcher_window.h"
#include "ui/linux/window_host_sdl.h"

namespace brisal {
namespace {

// Runs the window; the window object is gone when this returns.
int RunUi(LauncherState& state, const LauncherConfig& config, UserSettings settings,
          const Message& config_message, SingleInstance& instance) {
  LauncherWindow window(state, config, std::move(settings), config_message,
                        LauncherServices(state));
  return RunWindowSdl(window, [&instance] { instance.Listen(RequestRaiseSdl); });
}

// One run as the first instance. kRestart: a newer program was put in place and
// should start instead (the single instance is released on return).
StartDecision RunAsFirst(LauncherState& state, const std::string& self, bool may_update,
                         int& exit_code) {
  SingleInstance instance(SingleInstanceFolder());
  if (!instance.AcquireFirst()) {
    // Another launcher runs; it comes to the front if it has a window yet. Either way
    // this start ends silently.
    instance.AskFirstToRaise();
    exit_code = 0;
    return StartDecision::kRunWindow;
  }
  if (may_update && PutNewLauncherInPlace(self) == StartDecision::kRestart) {
    return StartDecision::kRestart;
  }
  LauncherConfig config = DefaultConfig();
  Message config_message;
  LoadConfig(JoinPath(ExeFolder(), "config.json"), config, config_message);
  UserSettings settings = LoadSettings();
  exit_code = RunUi(state, config, std::move(settings), config_message, instance);
  return StartDecision::kRunWindow;
}

}  // namespace
}  // namespace brisal

int main(int argc, char** argv) {
  using namespace brisal;
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs(VersionLine().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  // Not destroyed: detached job threads may use it until the process ends.
  auto state = std::make_unique<LauncherState>();
  const std::string self = platform::ExecutablePath();
  int exit_code = 0;
  if (RunAsFirst(*state, self, true, exit_code) == StartDecision::kRestart &&
      !StartNewLauncher(self)) {
    // The new program is in place for the next start; this one serves the player now.
    RunAsFirst(*state, self, false, exit_code);
  }
  // Job threads are never joined: end the process now, without running static
  // destructors under threads that may still be using what they destroy.
  std::fflush(nullptr);
  std::quick_exit(exit_code);
}

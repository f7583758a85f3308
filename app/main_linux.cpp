// brisal-launcher on Linux: one instance per session, the configuration beside the
// executable over the built-in defaults, the player's settings, and the window.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "app/single_instance_posix.h"
#include "app/window_services.h"
#include "config/launcher_config.h"
#include "config/user_settings.h"
#include "core/paths.h"
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

}  // namespace
}  // namespace brisal

int main() {
  using namespace brisal;
  // Not destroyed: detached job threads may use it until the process ends.
  auto state = std::make_unique<LauncherState>();
  int exit_code = 0;
  {
    SingleInstance instance(SingleInstanceFolder());
    if (!instance.AcquireFirst()) {
      // Another launcher runs; it comes to the front if it has a window yet. Either way
      // this start ends silently.
      instance.AskFirstToRaise();
      return 0;
    }
    LauncherConfig config = DefaultConfig();
    Message config_message;
    LoadConfig(JoinPath(ExeFolder(), "config.json"), config, config_message);
    UserSettings settings = LoadSettings();
    exit_code = RunUi(*state, config, std::move(settings), config_message, instance);
  }
  // Job threads are never joined: end the process now, without running static
  // destructors under threads that may still be using what they destroy.
  std::fflush(nullptr);
  std::quick_exit(exit_code);
}

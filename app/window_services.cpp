#include "app/window_services.h"

#include <chrono>
#include <cstdint>

#include "config/user_settings.h"
#include "core/paths.h"
#include "core/platform.h"
#include "launch/install_dir.h"
#include "launch/launch_client.h"
#include "net/retry_timing.h"
#include "news/news_job.h"
#include "update/engine.h"
#include "update/self_update.h"

namespace brisal {

WindowServices LauncherServices(LauncherState& state) {
  WindowServices services;
  // Every check also looks for a newer launcher and fetches it for the next start.
  const LauncherTarget self = ThisBuildsLauncher(platform::ExecutablePath());
  services.start_check = [&state, self](const EngineRequest& request) {
    StartJob(state, JobKind::kExclusive, [&state, request, self] {
      RunEngine(state, request);
      state.plan.job_lock.AssertHeld();
      if (request.action != EngineAction::kUpdate && !self.path.empty()) {
        KeepLauncherCurrent(state, self);
      }
    });
  };
  services.start_news = [&state] {
    StartJob(state, JobKind::kConcurrent, [&state] { RunNewsJob(state); });
  };
  services.start_update_job = [&state] {
    StartJob(state, JobKind::kExclusive, [&state] { RunUpdateJob(state); });
  };
  services.launch_client = LaunchClient;
  services.save_settings = SaveSettings;
  services.exe_folder = ExeFolder;
  services.default_install_dir = ResolveInstallDir;
  services.random_unit = RandomUnit;
  // Milliseconds of a clock that never goes backwards.
  services.now_ms = [] {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  };
  return services;
}

}  // namespace brisal

#include "app/window_services.h"

#include <chrono>
#include <cstdint>

#include "config/user_settings.h"
#include "core/paths.h"
#include "launch/install_dir.h"
#include "launch/launch_client.h"
#include "net/retry_timing.h"
#include "news/news_job.h"
#include "update/engine.h"

namespace brisal {

WindowServices LauncherServices(LauncherState& state) {
  WindowServices services;
  services.start_check = [&state](const EngineRequest& request) {
    StartJob(state, JobKind::kExclusive, [&state, request] { RunEngine(state, request); });
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

// Simulated launchers for bench/fleet: threads, each with its own launcher state and
// install folder, that run the engine's check step on the window's schedule against one
// server. The server's access log is the measurement; this prints only what the
// launchers saw.
//   fleet_bench BASE_URL LAUNCHERS SECONDS PERIOD_SECONDS spread|fixed WORKDIR
// "spread": the window's rules (a jittered period that doubles while the server fails);
// "fixed": the same period every time, as launchers without those rules do. Every
// launcher starts at the same moment, as after an outage that restarted them all.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/files.h"
#include "core/paths.h"
#include "net/retry_timing.h"
#include "shared_state/launcher_state.h"
#include "update/engine.h"

namespace {

using namespace brisal;
using Clock = std::chrono::steady_clock;

struct Fleet {
  std::string base_url;
  std::string workdir;
  std::int32_t period_seconds = 90;
  bool spread = true;
  Clock::time_point end;
  std::atomic<std::uint64_t> checks{0};
  std::atomic<std::uint64_t> failed{0};
};

void Check(LauncherState& state, EngineAction action) {
  RunJobWrapped(state, JobKind::kExclusive,
                [&] { RunUpdateCheck(state, action, AfterCheck::kStop); });
}

void Launcher(Fleet& fleet, int index) {
  LauncherState state;
  JobSettings settings;
  settings.base_url = fleet.base_url;
  settings.manifest = "manifest.json";
  settings.files_path = "client/";
  settings.install_dir = JoinPath(fleet.workdir, "launcher" + std::to_string(index));
  HandOverSettings(state, settings);
  EngineAction action = EngineAction::kCheck;
  while (Clock::now() < fleet.end) {
    Check(state, action);
    action = EngineAction::kQuietRecheck;
    const std::uint32_t failures = state.jobs.server_failures.load();
    fleet.checks.fetch_add(1);
    if (failures > 0) fleet.failed.fetch_add(1);
    const auto period = fleet.spread ? RecheckPeriod(fleet.period_seconds, failures, RandomUnit())
                                     : std::chrono::milliseconds(1000LL * fleet.period_seconds);
    const auto next = Clock::now() + period;
    while (Clock::now() < next && Clock::now() < fleet.end)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr,
                 "usage: fleet_bench BASE_URL LAUNCHERS SECONDS PERIOD_SECONDS spread|fixed "
                 "WORKDIR\n");
    return 2;
  }
  Fleet fleet;
  fleet.base_url = argv[1];
  const int launchers = std::atoi(argv[2]);
  fleet.end = Clock::now() + std::chrono::seconds(std::atoi(argv[3]));
  fleet.period_seconds = std::atoi(argv[4]);
  fleet.spread = std::string(argv[5]) == "spread";
  fleet.workdir = argv[6];
  OverrideDataFolder(JoinPath(fleet.workdir, "data"));
  std::vector<std::jthread> threads;
  threads.reserve(static_cast<std::size_t>(launchers));
  for (int i = 0; i < launchers; ++i)
    threads.emplace_back([&fleet, i] { Launcher(fleet, i); });
  threads.clear();
  std::printf("checks %llu, of them with the server failing %llu\n",
              static_cast<unsigned long long>(fleet.checks.load()),
              static_cast<unsigned long long>(fleet.failed.load()));
  return 0;
}

// check, verify and update: one exclusive job on a thread of its own, watched from the
// main thread the way the window watches it (state-changed notifications plus a
// 100 ms progress tick).
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/commands.h"
#include "cli/console.h"
#include "config/launcher_config.h"
#include "config/user_settings.h"
#include "core/paths.h"
#include "core/text.h"
#include "launch/install_dir.h"
#include "shared_state/launcher_state.h"
#include "shared_state/status_text.h"
#include "update/update_check.h"

namespace brisal::cli {

namespace {

using Clock = std::chrono::steady_clock;

int ExitStatusFor(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::kUpToDate:
      return kExitUpToDate;
    case UpdatePhase::kNotInstalled:
    case UpdatePhase::kUpdateAvailable:
      return kExitWorkPending;
    case UpdatePhase::kOffline:
      return kExitOffline;
    default:
      return kExitFailed;
  }
}

// The live progress line: at most ten redraws a second, terminals only.
class ProgressLine {
 public:
  explicit ProgressLine(bool enabled) : enabled_(enabled) {}

  void Update(LauncherState& state) {
    if (!enabled_) return;
    const UpdatePhase phase = CurrentPhase(state);
    if (phase != UpdatePhase::kDownloading && phase != UpdatePhase::kVerifying &&
        phase != UpdatePhase::kChecking) {
      return;
    }
    const auto now = Clock::now();
    if (now - last_draw_ < std::chrono::milliseconds(100)) return;
    ProgressSnapshot snapshot = TakeSnapshot(state);
    std::string line;
    if (phase == UpdatePhase::kDownloading) {
      SampleSpeed(snapshot.bytes_done, now);
      const double percent = snapshot.bytes_total == 0
                                 ? 0.0
                                 : 100.0 * static_cast<double>(snapshot.bytes_done) /
                                       static_cast<double>(snapshot.bytes_total);
      line = StringPrintf("%s / %s (%.1f %%) · %s/s · %u / %u archivos · %s",
                          FormatSize(snapshot.bytes_done).c_str(),
                          FormatSize(snapshot.bytes_total).c_str(), percent,
                          FormatSize(static_cast<std::uint64_t>(speed_)).c_str(),
                          snapshot.files_done, snapshot.files_total,
                          SafeText(snapshot.file_path).c_str());
    } else {
      const double percent =
          snapshot.files_total == 0 ? 0.0 : 100.0 * snapshot.files_done / snapshot.files_total;
      line = StringPrintf("%u / %u archivos (%.1f %%)", snapshot.files_done, snapshot.files_total,
                          percent);
    }
    line = SafeText(line, 110);
    std::fprintf(stdout, "\r\033[K%s", line.c_str());
    std::fflush(stdout);
    drawn_ = true;
    last_draw_ = now;
  }

  // Clears the line so the next status text starts on a clean row.
  void Clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stdout);
    drawn_ = false;
  }

 private:
  void SampleSpeed(std::uint64_t bytes, Clock::time_point now) {
    if (sample_time_ == Clock::time_point{} || bytes < sample_bytes_) {
      sample_time_ = now;
      sample_bytes_ = bytes;
      return;
    }
    const double seconds = std::chrono::duration<double>(now - sample_time_).count();
    if (seconds < 0.5) return;
    const double current = static_cast<double>(bytes - sample_bytes_) / seconds;
    speed_ = speed_ == 0 ? current : 0.7 * speed_ + 0.3 * current;
    sample_time_ = now;
    sample_bytes_ = bytes;
  }

  bool enabled_;
  bool drawn_ = false;
  Clock::time_point last_draw_{};
  Clock::time_point sample_time_{};
  std::uint64_t sample_bytes_ = 0;
  double speed_ = 0;
};

}  // namespace

int RunEngineCommand(const EngineOptions& options) {
  // LauncherState lives for the whole process, as in the window: a job thread must
  // never outlive it.
  static LauncherState state;
  // The signal watcher outlives this function: the flag it raises must too.
  static std::atomic<bool> interrupted{false};
  InterceptInterrupt(state.cancel, interrupted);

  LauncherConfig config;
  Message config_message;
  const std::string config_path =
      options.config_path.empty() ? JoinPath(ExeFolder(), "config.json") : options.config_path;
  if (!LoadConfig(config_path, config, config_message)) {
    std::fprintf(stderr, "%s\n", SafeText(Sentence(config_message)).c_str());
  }

  std::string install_dir = options.install_dir;
  if (install_dir.empty()) install_dir = LoadSettings().install_dir;
  if (install_dir.empty()) install_dir = ResolveInstallDir(config);

  HandOverSettings(state, MakeJobSettings(config, install_dir));

  std::mutex wake_mutex;
  std::condition_variable wake;
  bool notified = false;
  bool finished = false;
  state.notify = [&] {
    std::lock_guard<std::mutex> guard(wake_mutex);
    notified = true;
    wake.notify_one();
  };

  const bool verify = options.command == EngineCommand::kVerify;
  const bool chain = options.command == EngineCommand::kUpdate;
  std::thread job([&] {
    RunJobWrapped(state, true, [&] {
      // The job began by clearing `cancel`; an interrupt that came before must stand.
      if (interrupted.load()) state.cancel.store(true);
      RunUpdateCheck(state, verify, false, chain);
    });
    std::lock_guard<std::mutex> guard(wake_mutex);
    finished = true;
    wake.notify_one();
  });

  ProgressLine progress(!options.json && IsTerminal(stdout));
  std::string last_printed;
  auto print_status = [&] {
    StatusLine line = ComposeStatusLine(state, "");
    // Phase 5's text names the current file; print it once, the progress line
    // follows the files.
    if (CurrentPhase(state) == UpdatePhase::kDownloading) {
      line.text = Sentence(Message(MessageCode::kStatusDownloading));
    }
    if (line.text != last_printed) {
      progress.Clear();
      std::printf("%s\n", line.text.c_str());
      std::fflush(stdout);
      last_printed = line.text;
    }
  };

  bool done = false;
  while (!done) {
    {
      std::unique_lock<std::mutex> lock(wake_mutex);
      wake.wait_for(lock, std::chrono::milliseconds(100), [&] { return notified || finished; });
      notified = false;
      done = finished;
    }
    print_status();
    progress.Update(state);
  }
  job.join();
  progress.Clear();
  print_status();

  const UpdatePhase phase = CurrentPhase(state);
  if (options.json) {
    nlohmann::json summary = nlohmann::json::object();
    summary["phase"] = static_cast<int>(phase);
    summary["status"] = ComposeStatusLine(state, "").text;
    summary["files_to_download"] = state.update_files.load();
    summary["bytes_to_download"] = state.update_bytes.load();
    summary["files_to_delete"] = state.to_delete.size();
    summary["revision"] =
        state.have_manifest ? state.last_manifest.revision : state.cache.Revision();
    std::printf("%s\n",
                summary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  }
  std::fflush(stdout);
  if (interrupted.load()) return kExitInterrupted;
  return ExitStatusFor(phase);
}

}  // namespace brisal::cli

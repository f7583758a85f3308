// check, verify and update: one exclusive job on a thread of its own, watched from the
// main thread the way the window watches it (state-changed notifications plus a
// 100 ms progress tick).
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <utility>

#include "cli/commands.h"
#include "cli/console.h"
#include "config/launcher_config.h"
#include "config/user_settings.h"
#include "core/messages.h"
#include "core/paths.h"
#include "core/text.h"
#include "launch/install_dir.h"
#include "shared_state/launcher_state.h"
#include "shared_state/status_text.h"
#include "update/engine.h"

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
    ProgressFigures figures;
    figures.downloading = phase == UpdatePhase::kDownloading;
    if (figures.downloading) SampleSpeed(snapshot.bytes_done, now);
    figures.bytes_done = snapshot.bytes_done;
    figures.bytes_total = snapshot.bytes_total;
    figures.bytes_per_second = static_cast<std::uint64_t>(speed_);
    figures.files_done = snapshot.files_done;
    figures.files_total = snapshot.files_total;
    figures.path = std::move(snapshot.file_path);
    std::string line = ProgressSentence(figures);
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

// The job's thread and the main thread's wait for what it publishes: the main thread
// wakes for every state change, at least ten times a second for the progress line,
// and once more when the job has ended.
class JobWatch {
 public:
  explicit JobWatch(LauncherState& state) {
    state.notify = [this] {
      std::lock_guard<std::mutex> guard(mutex_);
      notified_ = true;
      wake_.notify_one();
    };
  }

  void Finished() {
    std::lock_guard<std::mutex> guard(mutex_);
    finished_ = true;
    wake_.notify_one();
  }

  // False once the job has ended.
  bool Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(100), [&] { return notified_ || finished_; });
    notified_ = false;
    return !finished_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool notified_ = false;
  bool finished_ = false;
};

// The status line, printed whenever its text changes.
class StatusPrinter {
 public:
  StatusPrinter(LauncherState& state, ProgressLine& progress)
      : state_(state), progress_(progress) {}

  void Print() {
    StatusLine line = ComposeStatusLine(state_, "");
    // Phase 5's text names the current file; print it once, the progress line
    // follows the files.
    if (CurrentPhase(state_) == UpdatePhase::kDownloading) {
      line.text = Sentence(Message(MessageCode::kStatusDownloading));
    }
    if (line.text == last_printed_) return;
    progress_.Clear();
    std::printf("%s\n", line.text.c_str());
    std::fflush(stdout);
    last_printed_ = line.text;
  }

 private:
  LauncherState& state_;
  ProgressLine& progress_;
  std::string last_printed_;
};

// The settings of config.json (its complaint printed, the defaults standing in) and
// the install folder: the one asked for, else the player's, else the default.
JobSettings SettingsFor(const EngineOptions& options, const UserSettings& player) {
  LauncherConfig config;
  Message config_message;
  const std::string config_path =
      options.config_path.empty() ? JoinPath(ExeFolder(), "config.json") : options.config_path;
  if (!LoadConfig(config_path, config, config_message)) {
    std::fprintf(stderr, "%s\n", SafeText(Sentence(config_message)).c_str());
  }
  std::string install_dir = options.install_dir;
  if (install_dir.empty()) install_dir = player.install_dir;
  if (install_dir.empty()) install_dir = ResolveInstallDir(config);
  return MakeJobSettings(config, install_dir);
}

EngineRequest RequestFor(EngineCommand command) {
  switch (command) {
    case EngineCommand::kVerify:
      return {EngineAction::kVerify, AfterCheck::kStop};
    case EngineCommand::kUpdate:
      return {EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded};
    case EngineCommand::kCheck:
      break;
  }
  return {EngineAction::kCheck, AfterCheck::kStop};
}

void PrintSummary(LauncherState& state) {
  // The job has ended: its lock is free, and taking it makes the plan's last writes
  // visible here.
  MutexLock guard(state.plan.job_lock);
  nlohmann::json summary = nlohmann::json::object();
  summary["phase"] = static_cast<int>(CurrentPhase(state));
  summary["status"] = ComposeStatusLine(state, "").text;
  summary["files_to_download"] = state.progress.update_files.load();
  summary["bytes_to_download"] = state.progress.update_bytes.load();
  summary["files_to_delete"] = state.plan.to_delete.size();
  // The server's text (or the state file's): safe like every other outside text
  // printed, since the JSON escape leaves direction marks and the like as they are.
  summary["revision"] =
      SafeText(state.plan.have_manifest ? state.plan.manifest.revision : state.cache.Revision());
  std::printf("%s\n",
              summary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

}  // namespace

int RunEngineCommand(const EngineOptions& options) {
  // LauncherState lives for the whole process, as in the window: a job thread must
  // never outlive it.
  static LauncherState state;
  // The signal watcher outlives this function: the flag it raises must too.
  static std::atomic<bool> interrupted{false};
  InterceptInterrupt(state.jobs.cancel, interrupted);
  const UserSettings player = LoadSettings();
  HandOverSettings(state, SettingsFor(options, player));
  // The operator's rate wins; without one, the limit the player chose in the window.
  state.jobs.download_limit.SetRate(options.has_limit_rate
                                        ? options.limit_rate
                                        : std::uint64_t{player.download_limit_kib} * 1024);

  JobWatch watch(state);
  const EngineRequest request = RequestFor(options.command);
  std::jthread job([&] {
    RunJobWrapped(state, JobKind::kExclusive, [&] {
      // The job began by clearing `cancel`; an interrupt that came before must stand.
      if (interrupted.load()) state.jobs.cancel.store(true);
      RunEngine(state, request);
    });
    watch.Finished();
  });

  ProgressLine progress(!options.json && IsTerminal(stdout));
  StatusPrinter status(state, progress);
  while (watch.Wait()) {
    status.Print();
    progress.Update(state);
  }
  job.join();
  progress.Clear();
  status.Print();

  if (options.json) PrintSummary(state);
  std::fflush(stdout);
  if (interrupted.load()) return kExitInterrupted;
  return ExitStatusFor(CurrentPhase(state));
}

}  // namespace brisal::cli

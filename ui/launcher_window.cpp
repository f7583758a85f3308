#include "ui/launcher_window.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "net/retry_timing.h"
#include "ui/primary_button.h"

namespace brisal {

int RecheckPeriodMs(std::chrono::milliseconds period) {
  return static_cast<int>(std::clamp<std::int64_t>(period.count(), 1, kMaxTimerMs));
}

LauncherWindow::LauncherWindow(LauncherState& shared_state, const LauncherConfig& launcher_config,
                               UserSettings user_settings, Message complaint,
                               WindowServices services)
    : state(&shared_state),
      config(launcher_config),
      settings(std::move(user_settings)),
      config_message(std::move(complaint)),
      services_(std::move(services)) {}

void LauncherWindow::Attach(WindowHost& host, float window_scale) {
  host_ = &host;
  scale = window_scale;
  width = static_cast<int>(std::lround(kDesignWidth * scale));
  height = static_cast<int>(std::lround(kDesignHeight * scale));
  ComputeLayout(scale, elements);
  install_folder =
      settings.install_dir.empty() ? services_.default_install_dir(config) : settings.install_dir;
  const auto renderer_count = static_cast<std::int32_t>(config.renderers.size());
  if (settings.renderer < 0 || settings.renderer >= renderer_count) settings.renderer = 0;
}

void LauncherWindow::Start() {
  if (!config_message.empty()) {
    notice = Sentence(config_message);
    first_check_notice_ = notice;
    // Painted now, not at the next state change: the status line must show it while
    // the first check runs.
    InvalidateArea(kProgressArea);
  }
  ApplyJobSettings(false);
  state->jobs.download_limit.SetRate(std::uint64_t{settings.download_limit_kib} * 1024);
  services_.start_check({EngineAction::kCheck, AfterCheckFor(config.auto_update)});
  services_.start_news();
  if (config.recheck_seconds > 0) ScheduleRecheck();
}

void LauncherWindow::ScheduleRecheck() {
  recheck_failures_ = state->jobs.server_failures.load();
  recheck_scheduled_ = true;
  host_->StartTimer(kRecheckTimerId,
                    RecheckPeriodMs(RecheckPeriod(config.recheck_seconds, recheck_failures_,
                                                  services_.random_unit())));
}

void LauncherWindow::ApplyJobSettings(bool restart) {
  HandOverSettings(*state, MakeJobSettings(config, install_folder));
  if (restart) services_.start_check({EngineAction::kCheck, AfterCheck::kStop});
  InvalidateArea(kFolderRowArea);
}

void LauncherWindow::SyncFromState() {
  const bool showed_hand = ShowsHand();
  news = CopyNews(*state);
  for (int k = 0; k < kNewsRowCount; ++k) {
    const auto index = static_cast<std::size_t>(k);
    elements[kFirstNewsRow + k].enabled = news.size() > index && !news[index].url.empty();
  }

  const UpdatePhase phase = CurrentPhase(*state);
  if (phase != last_phase) {
    const bool keep = !first_check_notice_.empty() && notice == first_check_notice_;
    if (!keep) notice.clear();
    if (IsSettledPhase(phase)) first_check_notice_.clear();
    if (phase == UpdatePhase::kDownloading) {
      speed = 0;
      speed_sample_bytes = 0;
      speed_sample_ms = services_.now_ms();
    }
    last_phase = phase;
  }
  // The launcher's own update speaks once, after the check it followed has settled.
  if (Message launcher = TakeLauncherNotice(*state); !launcher.empty()) {
    notice = Sentence(launcher);
  }

  const bool busy = IsBusyPhase(phase);
  elements[kChangeFolderButton].enabled = !busy;
  elements[kVerifyButton].enabled = !busy;
  elements[kPrimaryButton].enabled = PrimarySpec(phase).enabled;
  FollowStillPointer(showed_hand);

  if (busy) {
    host_->StartTimer(kProgressTimerId, kProgressTimerMs);
  } else {
    host_->StopTimer(kProgressTimerId);
  }
  InvalidateArea(kNewsPanelArea);
  InvalidateArea(kLowerArea);

  // A check just found the server failing, or back: the next re-check is timed from
  // now by the new count, not by the period set before.
  if (recheck_scheduled_ && state->jobs.server_failures.load() != recheck_failures_) {
    ScheduleRecheck();
  }
}

void LauncherWindow::OnTimer(int timer_id) {
  const UpdatePhase phase = CurrentPhase(*state);
  if (timer_id == kProgressTimerId) {
    if (phase == UpdatePhase::kDownloading) TakeSpeedSample();
    InvalidateArea(kProgressArea);
  } else if (timer_id == kRecheckTimerId) {
    // A tick while any exclusive job runs or waits would only queue another thread
    // behind it; the next tick after it comes soon enough.
    if (IsSettledPhase(phase) && state->jobs.exclusive_jobs.load() == 0) {
      services_.start_check({EngineAction::kQuietRecheck, AfterCheckFor(config.auto_update)});
      // Each period drawn anew, so launchers that started together drift apart.
      if (recheck_scheduled_) ScheduleRecheck();
    }
  }
}

void LauncherWindow::TakeSpeedSample() {
  const std::uint64_t now = services_.now_ms();
  const std::uint64_t bytes_done = TakeSnapshot(*state).bytes_done;
  const double seconds = static_cast<double>(now - speed_sample_ms) / 1000.0;
  if (seconds <= 0.05) return;
  double rate = bytes_done >= speed_sample_bytes
                    ? static_cast<double>(bytes_done - speed_sample_bytes) / seconds
                    : 0.0;
  if (speed != 0) rate = 0.3 * rate + 0.7 * speed;
  speed = rate;
  speed_sample_bytes = bytes_done;
  speed_sample_ms = now;
}

void LauncherWindow::OnClose() {
  // Jobs test the flag between chunks, blocks and files and give up quietly; the
  // process ends after the loop without joining them, so no download holds it open.
  state->jobs.cancel.exchange(true);
}

bool LauncherWindow::IsDragPoint(int x, int y) const {
  return brisal::IsDragPoint(elements, scale, width, height, x, y);
}

void LauncherWindow::InvalidateArea(const PixelRect& design_area) {
  host_->Invalidate(ScaleRect(design_area, scale));
}

}  // namespace brisal

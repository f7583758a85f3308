#include "ui/launcher_window.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <mutex>

#include "config/launcher_config.h"
#include "shared_state/launcher_state.h"
#include "tests/ui/fake_window_host.h"
#include "tests/ui/window_fixture.h"

namespace brisal {
namespace {

using LauncherWindowTest = testing::WindowFixture;

TEST_F(LauncherWindowTest, AttachSettlesFolderAndBringsRendererIntoRange) {
  ASSERT_GE(config.renderers.size(), 2u);
  for (int saved : {-1, static_cast<int>(config.renderers.size()), 99}) {
    UserSettings settings;
    settings.renderer = saved;
    Open(1.0f, settings);
    EXPECT_EQ(window->settings.renderer, 0) << "saved index " << saved;
    EXPECT_EQ(window->install_folder, "/juegos/brisal");
  }
  UserSettings settings;
  settings.renderer = 1;
  settings.install_dir = "/home/ana/Brisal Ascent";
  Open(1.5f, settings);
  EXPECT_EQ(window->settings.renderer, 1);
  EXPECT_EQ(window->install_folder, "/home/ana/Brisal Ascent");
  EXPECT_EQ(window->width, 1440);
  EXPECT_EQ(window->height, 918);
  EXPECT_EQ(window->elements[kPrimaryButton].rect, (PixelRect{1035, 729, 1380, 819}));
}

TEST_F(LauncherWindowTest, StartHandsOverSettingsAndStartsFirstJobsAndRecheckTimer) {
  config.auto_update = true;
  config.recheck_seconds = 90;
  config.connections = 5;
  config.base_url = "http://updates.example/brisal/";
  Open();
  window->Start();

  ASSERT_EQ(log.checks.size(), 1u);
  EXPECT_FALSE(log.checks[0].verify_all);
  EXPECT_FALSE(log.checks[0].quiet);
  EXPECT_TRUE(log.checks[0].auto_update);
  EXPECT_EQ(log.news_fetches, 1);
  EXPECT_EQ(host.timers.at(kRecheckTimerId), 90000);
  EXPECT_FALSE(host.TimerRunning(kProgressTimerId));
  {
    MutexLock guard(state.board.lock);
    EXPECT_TRUE(state.handover.pending_dirty);
    EXPECT_EQ(state.handover.pending.base_url, "http://updates.example/brisal/");
    EXPECT_EQ(state.handover.pending.connections, 5);
    EXPECT_EQ(state.handover.pending.install_dir, "/juegos/brisal");
  }
  EXPECT_EQ(host.invalidated, (std::vector<PixelRect>{{40, 570, 920, 596}}));
  EXPECT_TRUE(window->notice.empty());
}

// A period that does not fit 32 bits is capped, never wrapped into a tiny one that
// would start a check at every tick; 0 means no re-check at all.
TEST_F(LauncherWindowTest, RecheckTimerPeriodIsCappedAndZeroDisablesIt) {
  const struct {
    std::int32_t seconds;
    int expected_ms;  // 0: no timer
  } cases[] = {{0, 0},
               {1, 1000},
               {2147483, 2147483000},
               {2147484, kMaxTimerMs},
               {3000000, kMaxTimerMs},
               {std::numeric_limits<std::int32_t>::max(), kMaxTimerMs}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    config.recheck_seconds = c.seconds;
    host.timers.clear();
    Open();
    window->Start();
    if (c.expected_ms == 0) {
      EXPECT_FALSE(host.TimerRunning(kRecheckTimerId));
    } else {
      EXPECT_EQ(host.timers.at(kRecheckTimerId), c.expected_ms);
    }
  }
}

TEST_F(LauncherWindowTest, ApplyJobSettingsWithRestartStartsPlainCheck) {
  config.auto_update = true;
  Open();
  window->install_folder = "/otra/carpeta";
  window->ApplyJobSettings(true);
  ASSERT_EQ(log.checks.size(), 1u);
  EXPECT_FALSE(log.checks[0].verify_all || log.checks[0].quiet || log.checks[0].auto_update);
  MutexLock guard(state.board.lock);
  EXPECT_EQ(state.handover.pending.install_dir, "/otra/carpeta");
}

TEST_F(LauncherWindowTest, SyncInvalidatesPanelAndLowerAreaAtScale) {
  Open(1.5f);
  Publish(UpdatePhase::kChecking);
  EXPECT_EQ(host.invalidated, (std::vector<PixelRect>{{60, 225, 1380, 636}, {60, 660, 1380, 900}}));
}

TEST_F(LauncherWindowTest, ProgressTimerRunsExactlyInBusyPhases) {
  Open();
  struct Case {
    UpdatePhase phase;
    bool busy;
  };
  const Case cases[] = {
      {UpdatePhase::kChecking, true},         {UpdatePhase::kUpToDate, false},
      {UpdatePhase::kVerifying, true},        {UpdatePhase::kNotInstalled, false},
      {UpdatePhase::kDownloading, true},      {UpdatePhase::kFailed, false},
      {UpdatePhase::kUpdateAvailable, false}, {UpdatePhase::kOffline, false},
      {UpdatePhase::kStarting, false},
  };
  for (const Case& c : cases) {
    Publish(c.phase);
    const int phase = static_cast<int>(c.phase);
    EXPECT_EQ(host.TimerRunning(kProgressTimerId), c.busy) << "phase " << phase;
    if (c.busy) {
      EXPECT_EQ(host.timers.at(kProgressTimerId), 100);
    }
    EXPECT_EQ(window->elements[kChangeFolderButton].enabled, !c.busy) << "phase " << phase;
    EXPECT_EQ(window->elements[kVerifyButton].enabled, !c.busy) << "phase " << phase;
    const bool primary = c.phase != UpdatePhase::kStarting && c.phase != UpdatePhase::kChecking;
    EXPECT_EQ(window->elements[kPrimaryButton].enabled, primary) << "phase " << phase;
  }
}

TEST_F(LauncherWindowTest, ProgressTickInvalidatesOnlyProgressArea) {
  Open(1.5f);
  Publish(UpdatePhase::kVerifying);
  host.invalidated.clear();
  window->OnTimer(kProgressTimerId);
  EXPECT_EQ(host.invalidated, (std::vector<PixelRect>{{60, 660, 978, 828}}));
}

TEST_F(LauncherWindowTest, SpeedIsSampledAndSmoothedWhileDownloading) {
  Open();
  state.progress.bytes_done = 5'000'000;  // left over from an earlier job: must not count
  log.now_ms = 10'000;
  Publish(UpdatePhase::kDownloading);
  EXPECT_EQ(window->speed, 0);
  EXPECT_EQ(window->speed_sample_bytes, 0u);
  EXPECT_EQ(window->speed_sample_ms, 10'000u);

  log.now_ms = 11'000;
  state.progress.bytes_done = 100'000;
  window->OnTimer(kProgressTimerId);
  EXPECT_DOUBLE_EQ(window->speed, 100'000);  // the first rate is taken as it is

  log.now_ms = 12'000;
  state.progress.bytes_done = 300'000;
  window->OnTimer(kProgressTimerId);
  EXPECT_DOUBLE_EQ(window->speed, 0.3 * 200'000 + 0.7 * 100'000);

  // Samples closer than 50 ms are skipped entirely.
  const double before = window->speed;
  log.now_ms = 12'050;
  state.progress.bytes_done = 900'000;
  window->OnTimer(kProgressTimerId);
  EXPECT_DOUBLE_EQ(window->speed, before);
  EXPECT_EQ(window->speed_sample_bytes, 300'000u);

  // Fewer bytes than last time (a restarted file) is a rate of 0, smoothed.
  log.now_ms = 12'500;
  state.progress.bytes_done = 100'000;
  window->OnTimer(kProgressTimerId);
  EXPECT_DOUBLE_EQ(window->speed, 0.7 * before);

  // Another phase-5 message does not reset the sample; re-entering phase 5 does.
  Publish(UpdatePhase::kDownloading, "otro texto");
  EXPECT_DOUBLE_EQ(window->speed, 0.7 * before);
  Publish(UpdatePhase::kUpdateAvailable);
  log.now_ms = 20'000;
  Publish(UpdatePhase::kDownloading);
  EXPECT_EQ(window->speed, 0);
  EXPECT_EQ(window->speed_sample_ms, 20'000u);
}

TEST_F(LauncherWindowTest, NoSpeedSampleOutsideDownloads) {
  Open();
  Publish(UpdatePhase::kVerifying);
  log.now_ms = 60'000;
  state.progress.bytes_done = 1'000'000;
  window->OnTimer(kProgressTimerId);
  EXPECT_EQ(window->speed, 0);
  EXPECT_EQ(window->speed_sample_bytes, 0u);
}

TEST_F(LauncherWindowTest, RecheckTickStartsQuietCheckOnlyInSettledPhases) {
  config.auto_update = true;
  Open();
  for (int phase = 0; phase <= 8; ++phase) {
    log.checks.clear();
    state.board.phase = static_cast<UpdatePhase>(phase);
    window->OnTimer(kRecheckTimerId);
    const bool settled = phase == 3 || phase == 4 || phase >= 6;
    ASSERT_EQ(log.checks.size(), settled ? 1u : 0u) << "phase " << phase;
    if (settled) {
      EXPECT_TRUE(log.checks[0].quiet);
      EXPECT_TRUE(log.checks[0].auto_update);
      EXPECT_FALSE(log.checks[0].verify_all);
    }
  }
  // Any exclusive job running or waiting: the tick queues nothing behind it.
  state.board.phase = UpdatePhase::kUpToDate;
  log.checks.clear();
  state.jobs.exclusive_jobs = 1;
  window->OnTimer(kRecheckTimerId);
  EXPECT_TRUE(log.checks.empty());
  state.jobs.exclusive_jobs = 0;
}

TEST_F(LauncherWindowTest, RecheckPeriodStretchesWhileTheServerFailsAndReturnsAfterAnAnswer) {
  Open();
  window->Start();
  Publish(UpdatePhase::kUpToDate);
  for (int expected_ms : {180000, 360000, 720000, 1440000, 2880000, 3600000, 3600000}) {
    RecordServerAnswer(state, true);  // as the check step does
    window->SyncFromState();
    EXPECT_EQ(host.timers.at(kRecheckTimerId), expected_ms);
  }
  RecordServerAnswer(state, false);
  window->SyncFromState();
  EXPECT_EQ(host.timers.at(kRecheckTimerId), 90000);
  log.random_unit = 0.0;
  window->OnTimer(kRecheckTimerId);
  EXPECT_EQ(host.timers.at(kRecheckTimerId), 81000);
}

TEST_F(LauncherWindowTest, NoticeIsClearedOnlyWhenThePhaseChanges) {
  Open();
  Publish(UpdatePhase::kUpToDate);
  window->notice = "El link de Discord no está configurado";
  Publish(UpdatePhase::kUpToDate);  // news arrived: same phase
  EXPECT_EQ(window->notice, "El link de Discord no está configurado");
  SetPhase(state, UpdatePhase::kUpToDate, Message(MessageCode::kVerbatim, "texto nuevo"));
  window->SyncFromState();
  EXPECT_FALSE(window->notice.empty());
  Publish(UpdatePhase::kChecking);
  EXPECT_TRUE(window->notice.empty());
}

TEST_F(LauncherWindowTest, LauncherUpdateSpeaksOnceAfterTheCheckSettled) {
  Open();
  Publish(UpdatePhase::kUpToDate);
  const Message staged(MessageCode::kLauncherUpdateStaged, "1.2.0");
  PublishLauncherNotice(state, staged, "1.2.0");
  window->SyncFromState();
  EXPECT_EQ(window->notice, Sentence(staged));
  Publish(UpdatePhase::kChecking);
  PublishLauncherNotice(state, staged, "1.2.0");  // the next re-check finds it again
  Publish(UpdatePhase::kUpToDate);
  EXPECT_TRUE(window->notice.empty());
}

TEST_F(LauncherWindowTest, ConfigComplaintOutlivesTheFirstCheck) {
  const Message complaint(MessageCode::kConfigMalformed);
  Open(1.0f, {}, complaint);
  window->Start();
  const std::string expected = Sentence(complaint);
  EXPECT_EQ(window->notice, expected);
  // Painted at once, not at the first state change.
  EXPECT_EQ(host.invalidated.front(), (PixelRect{40, 440, 652, 552}));

  Publish(UpdatePhase::kChecking);
  EXPECT_EQ(window->notice, expected);
  Publish(UpdatePhase::kOffline, "No se pudo conectar");
  EXPECT_EQ(window->notice, expected);
  Publish(UpdatePhase::kChecking);
  EXPECT_TRUE(window->notice.empty());
}

TEST_F(LauncherWindowTest, NoticeThatReplacedTheComplaintGoesAtTheNextPhaseChange) {
  Open(1.0f, {}, Message(MessageCode::kConfigMalformed));
  window->Start();
  Publish(UpdatePhase::kChecking);
  // A link clicked while the first check runs: its notice is an ordinary one.
  window->notice = "El link de Discord no está configurado";
  Publish(UpdatePhase::kDownloading);
  EXPECT_TRUE(window->notice.empty());
}

TEST_F(LauncherWindowTest, NewsRowsEnabledForItemsWithAddress) {
  Open();
  SetNews({{"Evento", "Uno", "1 may", "https://a.example/1"},
           {"", "Dos", "2 may", ""},
           {"Parche", "Tres", "3 may", "http://a.example/3"}});
  Publish(UpdatePhase::kUpToDate);
  ASSERT_EQ(window->news.size(), 3u);
  EXPECT_EQ(window->news[1].title, "Dos");
  const bool expected[kNewsRowCount] = {true, false, true, false, false};
  for (int k = 0; k < kNewsRowCount; ++k) {
    EXPECT_EQ(window->elements[kFirstNewsRow + k].enabled, expected[k]) << "row " << k;
  }
  SetNews({});
  window->SyncFromState();
  EXPECT_FALSE(window->elements[kFirstNewsRow].enabled);
}

TEST_F(LauncherWindowTest, CloseRaisesCancelWithoutWaiting) {
  Open();
  window->Start();
  state.jobs.cancel = false;
  window->OnClose();
  EXPECT_TRUE(state.jobs.cancel.load());
}

}  // namespace
}  // namespace brisal

// The launcher's one window, independent of the platform: its element table and
// layout, its copy of the news, the notice, the speed sample, the two timers, and the
// window's side of the contract with the background jobs. The platform host (SDL2 on
// Linux, Win32 on Windows) creates the real window, forwards events here and paints
// through the painter.
//
// REQUIRES: every member function runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/launcher_config.h"
#include "config/user_settings.h"
#include "news/news_item.h"
#include "ui/canvas.h"
#include "ui/launcher_state.h"
#include "ui/layout.h"
#include "ui/window_host.h"

namespace brisal {

inline constexpr int kProgressTimerId = 1;
inline constexpr int kRecheckTimerId = 2;
inline constexpr int kProgressTimerMs = 100;

struct CheckRequest {
  bool verify_all = false;
  bool quiet = false;        // leave the phase alone while checking
  bool auto_update = false;  // go on to the update when one is needed
};

// What the window starts or asks for outside itself. The application wires the real
// jobs; tests wire recorders.
struct WindowServices {
  // Starts an exclusive update check.
  std::function<void(const CheckRequest&)> start_check;
  // Starts the concurrent news fetch.
  std::function<void()> start_news;
  // The install folder used when the player has chosen none.
  std::function<std::string(const LauncherConfig&)> default_install_dir;
  // Milliseconds from any fixed point; must never go backwards.
  std::function<std::uint64_t()> now_ms;
};

class LauncherWindow {
 public:
  LauncherWindow(LauncherState& state, const LauncherConfig& config, UserSettings settings,
                 std::string config_message, WindowServices services);
  LauncherWindow(const LauncherWindow&) = delete;
  LauncherWindow& operator=(const LauncherWindow&) = delete;

  // Start-up, in this order, by the platform's RunWindow:
  // 1. Attach, once the real window exists at `scale`: lays the elements out, settles
  //    the install folder and brings the renderer index into range.
  void Attach(WindowHost& host, float scale);
  // 2. (the host paints the static layer, registers the notifier and shows the window)
  // 3. Start: shows the configuration complaint, hands the settings to the jobs,
  //    starts the first check and the news, and the re-check timer.
  void Start();

  // Pulls a fresh view of the shared state; run for every state-changed notification.
  void SyncFromState();
  void OnTimer(int timer_id);
  // The window is closing: running jobs are asked to stop but never waited for.
  void OnClose();

  // Hands the configuration and the install folder to the next exclusive job;
  // `restart` starts a check that takes them up at once.
  void ApplyJobSettings(bool restart);

  bool IsDragPoint(int x, int y) const;

  // Invalidates a design-unit area, scaled like the elements.
  void InvalidateArea(const PixelRect& design_area);

  // The shared state; not owned, outlives the window.
  LauncherState* state;
  LauncherConfig config;
  // The player's saved choices; `settings.renderer` is the renderer in use.
  UserSettings settings;
  std::string config_message;  // complaint about config.json, empty when none
  std::string install_folder;  // the install folder in use

  float scale = 1.0f;
  int width = kDesignWidth;  // client size in pixels
  int height = kDesignHeight;
  ElementTable elements{};
  int hot_element = kNoElement;
  int pressed_element = kNoElement;
  bool tracking_leave = false;

  std::vector<NewsItem> news;
  // One-off message shown instead of the status line until the phase changes.
  std::string notice;

  double speed = 0;  // smoothed download speed, bytes per second
  std::uint64_t speed_sample_bytes = 0;
  std::uint64_t speed_sample_ms = 0;
  std::uint32_t last_phase = 0;

 private:
  void TakeSpeedSample();

  WindowServices services_;
  WindowHost* host_ = nullptr;
  // The configuration complaint outlives the phase changes of the first check, which
  // would otherwise clear it before the player could read it.
  bool keep_notice_through_first_check_ = false;
};

}  // namespace brisal

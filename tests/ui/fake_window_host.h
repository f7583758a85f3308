// A WindowHost that records what the window logic asks of it, and window services
// that record the jobs started, with a clock the test moves.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "config/user_settings.h"
#include "ui/launcher_window.h"
#include "ui/window_host.h"

namespace brisal {

// Readable failure messages for rectangles.
inline void PrintTo(const PixelRect& r, std::ostream* os) {
  *os << "(" << r.left << ", " << r.top << ")-(" << r.right << ", " << r.bottom << ")";
}

}  // namespace brisal

namespace brisal::testing {

class FakeWindowHost : public WindowHost {
 public:
  void Invalidate(const PixelRect& rect) override { invalidated.push_back(rect); }
  void StartTimer(int id, int milliseconds) override {
    timers[id] = milliseconds;
    ++timer_starts;
  }
  void StopTimer(int id) override { timers.erase(id); }
  void CaptureMouse() override { captured = true; }
  void ReleaseMouse() override { captured = false; }
  bool HasMouseCapture() const override { return captured; }
  void SetCursor(CursorKind kind) override {
    cursor = kind;
    ++cursor_sets;
  }
  void Minimize() override { ++minimized; }
  void Close() override { ++closed; }
  bool OpenUrl(const std::string& url) override {
    opened.push_back(url);
    return true;
  }
  // Answers with `pick_answer`, or "cancelled" while it is unset.
  bool PickFolder(const std::string& title, const std::string&, std::string& chosen) override {
    picker_titles.push_back(title);
    if (!pick_answer) return false;
    chosen = *pick_answer;
    return true;
  }

  bool TimerRunning(int id) const { return timers.count(id) != 0; }

  std::vector<PixelRect> invalidated;
  std::map<int, int> timers;  // running timers: id -> period in ms
  int timer_starts = 0;
  bool captured = false;
  CursorKind cursor = CursorKind::kArrow;
  int cursor_sets = 0;
  int minimized = 0;
  int closed = 0;
  std::vector<std::string> opened;
  std::optional<std::string> pick_answer;
  std::vector<std::string> picker_titles;
};

struct LaunchRequest {
  int renderer_index = -1;
  std::string install_folder;
};

// The jobs a window asked for, and the clock it reads. Settings go to the real
// settings.json, so a test that saves points the data folder at a temporary one.
// A check the window asked for, in the terms the tests speak.
struct CheckSeen {
  bool verify_all = false;
  bool quiet = false;
  bool auto_update = false;
};

struct ServiceLog {
  std::vector<CheckSeen> checks;
  int news_fetches = 0;
  int update_jobs = 0;
  std::vector<LaunchRequest> launches;
  int settings_saves = 0;
  // Why a launch fails; empty for a success.
  Message launch_error;
  std::string exe_folder = "/opt/brisal";
  std::uint64_t now_ms = 1000;
  double random_unit = 0.5;  // the middle: periods exactly as configured

  WindowServices Services() {
    WindowServices services;
    services.start_check = [this](const EngineRequest& request) {
      checks.push_back({request.action == EngineAction::kVerify,
                        request.action == EngineAction::kQuietRecheck,
                        request.then == AfterCheck::kUpdateWhenNeeded});
    };
    services.start_news = [this] { ++news_fetches; };
    services.default_install_dir = [](const LauncherConfig&) {
      return std::string("/juegos/brisal");
    };
    services.now_ms = [this] { return now_ms; };
    services.start_update_job = [this] { ++update_jobs; };
    services.launch_client = [this](const LauncherConfig&, int renderer_index,
                                    const std::string& install_folder, Message& error) {
      launches.push_back({renderer_index, install_folder});
      error = launch_error;
      return launch_error.empty();
    };
    services.save_settings = [this](const UserSettings& settings) {
      ++settings_saves;
      SaveSettings(settings);
    };
    services.exe_folder = [this] { return exe_folder; };
    services.random_unit = [this] { return random_unit; };
    return services;
  }
};

}  // namespace brisal::testing

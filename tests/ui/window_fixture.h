// A LauncherWindow on a fake host with recorded services, and its data folder (where
// settings.json goes) in a temporary folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/launcher_config.h"
#include "config/user_settings.h"
#include "core/paths.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/fake_window_host.h"
#include "shared_state/launcher_state.h"
#include "ui/launcher_window.h"

namespace brisal::testing {

class WindowFixture : public ::testing::Test {
 protected:
  WindowFixture() {
    OverrideDataFolder(data.path());
    config = DefaultConfig();
  }

  // Builds and attaches the window the way the platform host does.
  LauncherWindow& Open(float scale = 1.0f, UserSettings settings = {}, Message complaint = {}) {
    window = std::make_unique<LauncherWindow>(state, config, std::move(settings),
                                              std::move(complaint), log.Services());
    window->Attach(host, scale);
    return *window;
  }

  void Publish(UpdatePhase phase, const std::string& text = "") {
    SetPhase(state, phase, text.empty() ? Message() : Message(MessageCode::kVerbatim, text));
    window->SyncFromState();
  }

  void SetNews(std::vector<NewsItem> items) {
    {
      MutexLock guard(state.board.lock);
      state.board.news = std::move(items);
    }
    window->SyncFromState();
  }

  // A point inside element `index`, away from its edges.
  int CenterX(int index) const {
    const PixelRect& r = window->elements[index].rect;
    return (r.left + r.right) / 2;
  }
  int CenterY(int index) const {
    const PixelRect& r = window->elements[index].rect;
    return (r.top + r.bottom) / 2;
  }

  void Click(int index) {
    window->OnMouseMove(CenterX(index), CenterY(index));
    window->OnMouseDown(CenterX(index), CenterY(index));
    window->OnMouseUp(CenterX(index), CenterY(index));
  }

  std::string SettingsFile() const { return ReadFile(SettingsPath()); }

  TempDir data;
  LauncherState state;
  LauncherConfig config;
  FakeWindowHost host;
  ServiceLog log;
  std::unique_ptr<LauncherWindow> window;
};

}  // namespace brisal::testing

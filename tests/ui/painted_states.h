// The window states the painting tests draw: the same on cairo and on GDI+, so that
// the Windows test can compare its renderings with the cairo ones saved in golden/.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/user_settings.h"
#include "shared_state/launcher_state.h"
#include "ui/launcher_window.h"

namespace brisal::testing {

inline constexpr const char* kOfflineText = "No se pudo conectar con el servidor";
inline constexpr const char* kFailedText = "El manifiesto no es válido";

inline UserSettings PaintedSettings() {
  UserSettings settings;
  settings.install_dir = "/home/jugador/Brisal Ascent";
  settings.renderer = 1;
  return settings;
}

// `count` news items; the second has no tag.
inline void SetPaintedNews(LauncherState& state, int count) {
  std::vector<NewsItem> items;
  for (int i = 0; i < count; ++i) {
    items.push_back({i == 1 ? "" : "Evento", "Noticia número " + std::to_string(i + 1),
                     std::to_string(i + 1) + " jun 2025",
                     "https://brisal.example/n/" + std::to_string(i)});
  }
  MutexLock guard(state.board.lock);
  state.board.news = std::move(items);
}

// The phase with the figures a real job would have published for it, synced into
// the window.
inline void EnterPaintedPhase(LauncherState& state, LauncherWindow& window, UpdatePhase phase) {
  state.progress.update_files = 12;
  state.progress.update_bytes = 3 * 1048576;
  state.progress.files_total = 40;
  state.progress.files_done = 10;
  state.progress.bytes_total = 10 * 1048576;
  state.progress.bytes_done = 5 * 1048576;
  state.progress.slots[0].file_size = 1000;
  state.progress.slots[0].file_done = 250;
  {
    MutexLock guard(state.progress.slots[0].lock);
    state.progress.slots[0].file_path = "data/mapa.pak";
  }
  std::string text;
  if (phase == UpdatePhase::kOffline) text = kOfflineText;
  if (phase == UpdatePhase::kFailed) text = kFailedText;
  SetPhase(state, phase, text.empty() ? Message() : Message(MessageCode::kVerbatim, text));
  window.SyncFromState();
  if (phase == UpdatePhase::kDownloading) window.speed = 2.5 * 1048576;
}

}  // namespace brisal::testing

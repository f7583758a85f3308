// settings.json in the data folder: the player's own install folder, renderer and
// download speed limit.
#pragma once

#include <cstdint>
#include <string>

namespace brisal {

struct UserSettings {
  std::string install_dir;     // empty: not chosen
  std::int32_t renderer = -1;  // index into LauncherConfig::renderers; -1: not chosen
  std::uint32_t download_limit_kib = 0;  // KiB per second; 0: no limit
};

std::string SettingsPath();

// Missing, unreadable or malformed files give the initial values, silently.
UserSettings LoadSettings();

// Writes the whole file atomically. A failed save keeps the previous file.
void SaveSettings(const UserSettings& settings);

// The exact text SaveSettings writes (2-space indentation, raw UTF-8, no newline).
std::string SerializeSettings(const UserSettings& settings);

}  // namespace brisal

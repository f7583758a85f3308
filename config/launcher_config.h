// config.json: the operator's settings, shipped beside the executable, read once at
// start-up over built-in defaults and read-only afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brisal {

struct Renderer {
  std::string name;  // label shown to the player
  std::string exe;   // client executable, relative to the install folder, "/"-separated
};

struct LauncherConfig {
  std::string base_url;          // empty or ending in "/"
  std::string manifest;          // relative to base_url
  std::string files_path;        // empty or ending in "/", never exactly "/"
  std::string news;              // relative to base_url
  std::int32_t connections = 3;  // 1..8
  bool auto_update = false;
  bool close_on_play = true;
  std::int32_t recheck_seconds = 90;  // 0: no periodic re-check
  std::string install_dir;            // empty: the default folder
  std::string client_args;
  std::vector<Renderer> renderers;  // never empty
  std::string website;
  std::string register_url;  // "register" in config.json
  std::string discord;
};

// The complaint LoadConfig hands to the window for a malformed file.
inline constexpr const char* kConfigFormatError =
    "config.json tiene un error de formato (JSON invalido)";

LauncherConfig DefaultConfig();

// Overwrites `config` with the defaults and then the file's valid keys. Returns false
// only when the file exists but is malformed; `config_message` then holds the
// complaint. A missing or unreadable file is not a complaint.
bool LoadConfig(const std::string& path, LauncherConfig& config, std::string& config_message);

}  // namespace brisal

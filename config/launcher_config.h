// config.json: the operator's settings, shipped beside the executable, read once at
// start-up over built-in defaults and read-only afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/messages.h"

namespace brisal {

struct Renderer {
  std::string name;  // label shown to the player
  std::string exe;   // client executable, relative to the install folder, "/"-separated
};

inline constexpr std::size_t kMaxMirrors = 8;

struct LauncherConfig {
  std::string base_url;          // empty or ending in "/"
  // Further base URLs serving the same files below files_path, tried in this order
  // when base_url fails a file (and, with a manifest key, the manifest). Each ends in
  // "/"; at most kMaxMirrors.
  std::vector<std::string> mirrors;
  std::string manifest;          // relative to base_url
  std::string files_path;        // empty or ending in "/", never exactly "/"
  std::string news;              // relative to base_url
  std::int32_t connections = 3;  // 1..8
  bool auto_update = false;
  bool close_on_play = true;
  // Look for a newer launcher in launcher.json beside the manifest, fetch it and put
  // it in place at the next start.
  bool self_update = true;
  std::int32_t recheck_seconds = 90;  // 0: no periodic re-check
  std::string install_dir;            // empty: the default folder
  std::string client_args;
  std::vector<Renderer> renderers;  // never empty
  std::string website;
  std::string register_url;  // "register" in config.json
  std::string discord;
  // The operator's public keys as written in config.json: the current one and, while
  // keys rotate, the next. Empty: manifests are taken unsigned. A text that is no key
  // stays in the list, so that every manifest is refused rather than taken unsigned.
  std::vector<std::string> manifest_keys;
  // config.json exists but could not be used: the defaults that stand in may lack the
  // operator's key, so every manifest is refused until it is mended.
  bool unusable = false;
};

// The public point a manifest_key names (base64 of 65 bytes: 0x04, X, Y); false when the
// text cannot be one.
bool DecodeManifestKey(const std::string& text, std::string& point);

LauncherConfig DefaultConfig();

// Overwrites `config` with the defaults and then the file's valid keys. Returns false
// when the file exists but cannot be read or is too large (kConfigUnreadable), is
// malformed (kConfigMalformed) — both leave `unusable` set — or names a manifest_key
// that is no key (kConfigManifestKeyInvalid); `complaint` then says so, as the window
// and brisal-cli show it. Only a missing file is no complaint.
bool LoadConfig(const std::string& path, LauncherConfig& config, Message& complaint);

}  // namespace brisal

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client_files/block_map.h"

namespace brisal::cli {

// Exit statuses other tools rely on.
inline constexpr int kExitUpToDate = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitOffline = 3;
inline constexpr int kExitWorkPending = 4;
inline constexpr int kExitInterrupted = 130;

enum class EngineCommand { kCheck, kVerify, kUpdate };

struct EngineOptions {
  EngineCommand command = EngineCommand::kCheck;
  std::string config_path;  // empty: config.json beside the executable
  std::string install_dir;  // empty: the player's, else the configured or default one
  bool json = false;
  // update only: bytes per second, 0 for none; without the option, settings.json's
  std::uint64_t limit_rate = 0;
  bool has_limit_rate = false;
};

int RunEngineCommand(const EngineOptions& options);

struct ManifestOptions {
  std::string folder;
  std::string revision;
  bool has_revision = false;
  std::string output;    // empty: standard output
  std::string sign_key;  // PEM private key; empty: no signature
  std::uint64_t serial = 0;
  bool has_serial = false;
  std::uint32_t expires_days = 0;
  bool has_expires = false;
  // The block maps' average chunk; the least and largest follow at a quarter and four
  // times it.
  std::uint32_t average_chunk = kChunkLimits.avg;
};

int RunManifestCommand(const ManifestOptions& options);

struct PublishLauncherOptions {
  std::string version;
  std::string output;    // launcher.json's path; the signature goes beside it
  std::string sign_key;  // PEM private key; empty: no signature
  struct Platform {
    std::string name;  // "windows-x64", "linux-x86_64"
    std::string url;   // as players' launchers will fetch it
    std::string file;  // the program as built, hashed here
  };
  std::vector<Platform> platforms;
};

// Writes launcher.json (and with a key launcher.json.sig) for the programs given.
int RunPublishLauncherCommand(const PublishLauncherOptions& options);

struct SelfUpdateOptions {
  bool check_only = false;
  std::string config_path;  // empty: config.json beside the executable
};

// Brings the launcher beside brisal-cli up to launcher.json's release.
int RunSelfUpdateCommand(const SelfUpdateOptions& options);

// The signature of `text` as the launcher fetches it (base64 and a newline), with the
// signing key's public half reported; false with the reason printed.
bool SignText(const std::string& key_path, const std::string& text, std::string& sig_text);

// Writes `text` to `output` and, when `sig_text` is not empty, its signature to
// `output`.sig, each whole or not at all; false with the reason printed.
bool WriteSignedDocument(const std::string& output, const std::string& text,
                         const std::string& sig_text);

// Writes a new private key to `private_key_path` and prints its public half as the
// "manifest_key" line of config.json.
int RunKeygenCommand(const std::string& private_key_path);

}  // namespace brisal::cli

// config.json: any file loads without throwing, and the loaded configuration keeps the
// invariants the rest of the launcher relies on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/launcher_config.h"
#include "core/paths.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using brisal::fuzz::Require;
  static const std::string path = brisal::JoinPath(brisal::fuzz::ScratchFolder(), "config.json");
  brisal::fuzz::WriteScratchFile(path, data, size);

  brisal::LauncherConfig config;
  brisal::Message message;
  if (!brisal::LoadConfig(path, config, message)) {
    // A well-formed file may still name a manifest_key that is no key.
    Require(message.code == brisal::MessageCode::kConfigMalformed ||
                message.code == brisal::MessageCode::kConfigUnreadable ||
                message.code == brisal::MessageCode::kConfigManifestKeyInvalid,
            "a refused file gives its complaint");
    Require(config.unusable == (message.code != brisal::MessageCode::kConfigManifestKeyInvalid),
            "a file that could not be used leaves nothing trusted");
  } else {
    Require(message.empty(), "a usable file gives no complaint");
  }
  Require(config.connections >= 1 && config.connections <= 8, "connections stay in 1..8");
  Require(config.recheck_seconds >= 0, "the re-check period is never negative");
  Require(config.base_url.empty() || config.base_url.back() == '/',
          "the base URL is empty or ends in /");
  Require(
      config.files_path != "/" && (config.files_path.empty() || config.files_path.back() == '/'),
      "the files path is empty or ends in /, and is never /");
  Require(!config.renderers.empty(), "there is always a renderer");
  for (const brisal::Renderer& renderer : config.renderers) {
    Require(brisal::IsSafeRelativePath(renderer.exe), "every renderer's program is a safe path");
  }
  return 0;
}

// settings.json: any file loads without throwing, and what loaded, saved and loaded
// again, is the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/user_settings.h"
#include "core/paths.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using brisal::fuzz::Require;
  static const bool redirected = [] {
    brisal::OverrideDataFolder(brisal::fuzz::ScratchFolder());
    return true;
  }();
  (void)redirected;

  brisal::fuzz::WriteScratchFile(brisal::SettingsPath(), data, size);
  const brisal::UserSettings loaded = brisal::LoadSettings();
  Require(brisal::WriteFileAtomic(brisal::SettingsPath(), brisal::SerializeSettings(loaded)),
          "the scratch folder takes the save");
  const brisal::UserSettings again = brisal::LoadSettings();
  Require(again.install_dir == loaded.install_dir && again.renderer == loaded.renderer,
          "settings saved after loading load the same");
  return 0;
}

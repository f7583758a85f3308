#include "config/user_settings.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "core/paths.h"

namespace brisal {

namespace {

using Json = nlohmann::json;

std::int32_t ToInt32(double value) {
  if (std::isnan(value)) return 0;
  double cut = std::trunc(value);
  if (cut <= std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  if (cut >= std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(cut);
}

}  // namespace

std::string SettingsPath() {
  return JoinPath(DataFolder(), "settings.json");
}

UserSettings LoadSettings() {
  UserSettings settings;
  std::string text;
  if (!ReadWholeFile(SettingsPath(), text)) return settings;
  Json doc = Json::parse(text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
  if (!doc.is_object()) return settings;

  if (auto it = doc.find("install_dir"); it != doc.end() && it->is_string()) {
    settings.install_dir = it->get<std::string>();
  }
  if (auto it = doc.find("renderer"); it != doc.end()) {
    if (it->is_number_integer()) {
      settings.renderer = it->is_number_unsigned()
                              ? ToInt32(static_cast<double>(it->get<std::uint64_t>()))
                              : ToInt32(static_cast<double>(it->get<std::int64_t>()));
    } else if (it->is_number_float()) {
      settings.renderer = ToInt32(it->get<double>());
    } else if (it->is_boolean()) {
      settings.renderer = it->get<bool>() ? 1 : 0;
    }
    // Any other type keeps "not chosen": start-up must go on.
  }
  // Only a whole number of KiB that fits is a limit; anything else (negative, a
  // fraction, text) downloads unlimited rather than guessing what was meant.
  if (auto it = doc.find("download_limit_kib"); it != doc.end() && it->is_number_unsigned()) {
    const std::uint64_t kib = it->get<std::uint64_t>();
    if (kib <= std::numeric_limits<std::uint32_t>::max()) {
      settings.download_limit_kib = static_cast<std::uint32_t>(kib);
    }
  }
  return settings;
}

std::string SerializeSettings(const UserSettings& settings) {
  Json doc = Json::object();
  doc["install_dir"] = settings.install_dir;
  doc["renderer"] = settings.renderer;
  doc["download_limit_kib"] = settings.download_limit_kib;
  // A folder name that is not valid UTF-8 must not make the save throw.
  return doc.dump(2, ' ', /*ensure_ascii=*/false, Json::error_handler_t::replace);
}

void SaveSettings(const UserSettings& settings) {
  WriteFileAtomic(SettingsPath(), SerializeSettings(settings));
}

}  // namespace brisal

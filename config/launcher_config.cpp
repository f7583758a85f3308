#include "config/launcher_config.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "config.h"
#include "core/paths.h"
#include "core/text.h"

namespace brisal {

namespace {

using Json = nlohmann::json;

// A real config.json is a few kilobytes; a file far larger is not one, and is not worth
// reading into memory.
constexpr std::uint64_t kConfigSizeCap = 1 << 20;

void CopyString(const Json& doc, const char* key, std::string& field) {
  auto it = doc.find(key);
  if (it != doc.end() && it->is_string()) field = it->get<std::string>();
}

// Any JSON integer as a 64-bit signed value, saturating huge unsigned values, so an
// absurd number clamps to the top of the range instead of wrapping.
std::int64_t IntegerValue(const Json& value) {
  if (value.is_number_unsigned()) {
    auto u = value.get<std::uint64_t>();
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return u > kMax ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(u);
  }
  return value.get<std::int64_t>();
}

void EnsureTrailingSlash(std::string& s) {
  if (!s.empty() && s.back() != '/') s.push_back('/');
}

std::vector<Renderer> DefaultRenderers() {
  return {{"OpenGL", "Brisal Client_GL.exe"}, {"DirectX", "Brisal Client_DX.exe"}};
}

// A link member: its text when it is a string, the default when absent or of another
// type (a non-string value must not stop start-up).
std::string LinkValue(const Json& links, const char* key, const char* fallback) {
  auto it = links.find(key);
  if (it != links.end() && it->is_string()) return it->get<std::string>();
  return fallback;
}

// connections, auto_update, close_on_play and recheck_seconds: each taken only when
// of its own type, and the numbers clamped into what the launcher can use.
void ReadNumbersAndSwitches(const Json& doc, LauncherConfig& config) {
  if (auto it = doc.find("connections"); it != doc.end() && it->is_number_integer()) {
    config.connections =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(IntegerValue(*it), 1, 8));
  }
  if (auto it = doc.find("auto_update"); it != doc.end() && it->is_boolean()) {
    config.auto_update = it->get<bool>();
  }
  if (auto it = doc.find("close_on_play"); it != doc.end() && it->is_boolean()) {
    config.close_on_play = it->get<bool>();
  }
  if (auto it = doc.find("self_update"); it != doc.end() && it->is_boolean()) {
    config.self_update = it->get<bool>();
  }
  if (auto it = doc.find("recheck_seconds"); it != doc.end() && it->is_number_integer()) {
    std::int64_t n = IntegerValue(*it);
    config.recheck_seconds = n > 0 ? static_cast<std::int32_t>(std::min<std::int64_t>(
                                         n, std::numeric_limits<std::int32_t>::max()))
                                   : 0;
  }
}

// The elements of "renderers" the launcher can start: an object with a safe "exe" and,
// when it has one, a string "name".
std::vector<Renderer> UsableRenderers(const Json& list) {
  std::vector<Renderer> renderers;
  for (const Json& element : list) {
    if (!element.is_object()) continue;
    auto exe = element.find("exe");
    if (exe == element.end() || !exe->is_string()) continue;
    std::string exe_text = exe->get<std::string>();
    if (exe_text.empty() || !IsSafeRelativePath(exe_text)) continue;
    Renderer renderer;
    renderer.exe = exe_text;
    auto name = element.find("name");
    if (name == element.end()) {
      renderer.name = exe_text;
    } else if (name->is_string()) {
      renderer.name = name->get<std::string>();
    } else {
      continue;  // a name of another type: the element is not usable as written
    }
    renderers.push_back(std::move(renderer));
  }
  return renderers;
}

// "manifest_key": one key as a string, or a list of them. Unlike the other keys, a
// value of the wrong type is not passed over — falling back to the default would
// quietly take unsigned manifests — but kept as its JSON text, which no manifest
// verifies against. False when any entry is no key.
bool ReadManifestKeys(const Json& value, std::vector<std::string>& keys) {
  keys.clear();
  if (value.is_string() && value.get<std::string>().empty()) return true;
  auto key_text = [](const Json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); };
  if (value.is_array()) {
    for (const Json& element : value)
      keys.push_back(key_text(element));
  } else {
    keys.push_back(key_text(value));
  }
  std::string point;
  return std::all_of(keys.begin(), keys.end(),
                     [&point](const std::string& key) { return DecodeManifestKey(key, point); });
}

bool Unusable(LauncherConfig& config, Message& complaint, MessageCode code) {
  config.unusable = true;
  complaint = Message(code);
  return false;
}

}  // namespace

bool DecodeManifestKey(const std::string& text, std::string& point) {
  std::string bytes;
  if (!DecodeBase64(text, bytes) || bytes.size() != 65 || bytes[0] != 0x04) return false;
  point = std::move(bytes);
  return true;
}

LauncherConfig DefaultConfig() {
  LauncherConfig config;
  config.base_url = BRISAL_BASE_URL;
  config.manifest = "manifest.php";
  config.files_path = "client/";
  config.news = "news.php";
  config.renderers = DefaultRenderers();
  if (const std::string built_in = BRISAL_MANIFEST_KEY; !built_in.empty())
    config.manifest_keys.push_back(built_in);
  return config;
}

bool LoadConfig(const std::string& path, LauncherConfig& config, Message& complaint) {
  config = DefaultConfig();
  std::string text;
  switch (ReadSmallFile(path, kConfigSizeCap, text)) {
    case SmallFileRead::kMissing:
      return true;
    case SmallFileRead::kUnusable:
      return Unusable(config, complaint, MessageCode::kConfigUnreadable);
    case SmallFileRead::kRead:
      break;
  }

  Json doc = Json::parse(text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/true);
  if (!doc.is_object()) return Unusable(config, complaint, MessageCode::kConfigMalformed);

  CopyString(doc, "base_url", config.base_url);
  CopyString(doc, "manifest", config.manifest);
  CopyString(doc, "files_path", config.files_path);
  CopyString(doc, "news", config.news);
  CopyString(doc, "install_dir", config.install_dir);
  CopyString(doc, "client_args", config.client_args);

  EnsureTrailingSlash(config.base_url);
  EnsureTrailingSlash(config.files_path);
  if (config.files_path == "/") config.files_path.clear();

  ReadNumbersAndSwitches(doc, config);
  if (auto it = doc.find("renderers"); it != doc.end() && it->is_array()) {
    std::vector<Renderer> renderers = UsableRenderers(*it);
    if (!renderers.empty()) config.renderers = std::move(renderers);
  }

  if (auto it = doc.find("mirrors"); it != doc.end() && it->is_array()) {
    for (const Json& mirror : *it) {
      if (!mirror.is_string() || mirror.get<std::string>().empty()) continue;
      if (config.mirrors.size() == kMaxMirrors) break;
      config.mirrors.push_back(mirror.get<std::string>());
      EnsureTrailingSlash(config.mirrors.back());
    }
  }

  if (auto it = doc.find("links"); it != doc.end() && it->is_object()) {
    config.website = LinkValue(*it, "website", BRISAL_WEBSITE);
    config.register_url = LinkValue(*it, "register", BRISAL_REGISTER);
    config.discord = LinkValue(*it, "discord", BRISAL_DISCORD);
  }

  if (auto it = doc.find("manifest_key");
      it != doc.end() && !ReadManifestKeys(*it, config.manifest_keys)) {
    complaint = Message(MessageCode::kConfigManifestKeyInvalid);
    return false;
  }
  return true;
}

}  // namespace brisal

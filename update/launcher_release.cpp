#include "update/launcher_release.h"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>
#include <vector>

#include "client_files/sha256_hex.h"
#include "core/paths.h"
#include "core/text.h"

namespace brisal {

namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxUrlBytes = 2048;
constexpr std::size_t kMaxVersionParts = 4;
constexpr std::size_t kMaxVersionDigits = 9;

bool SplitVersion(const std::string& text, std::vector<std::uint32_t>& parts) {
  parts.clear();
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = std::min(text.find('.', start), text.size());
    const std::size_t digits = dot - start;
    if (digits == 0 || digits > kMaxVersionDigits || parts.size() == kMaxVersionParts) {
      return false;
    }
    std::uint32_t value = 0;
    const char* first = text.data() + start;
    const auto [stop, error] = std::from_chars(first, first + digits, value);
    if (error != std::errc() || stop != first + digits) return false;
    parts.push_back(value);
    if (dot == text.size()) return true;
    start = dot + 1;
  }
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; });
}

bool IsAbsoluteHttpUrl(const std::string& url) {
  return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

// No query, fragment, backslash, space or control character: the URL is used as it is
// written, and its last segment becomes a file name.
bool PlainUrlText(const std::string& url) {
  if (url.empty() || url.size() > kMaxUrlBytes) return false;
  return std::none_of(url.begin(), url.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7f || c == '?' || c == '#' || c == '\\';
  });
}

bool ReadFile(const Json& entry, LauncherFile& file) {
  if (!entry.is_object()) return false;
  const auto url = entry.find("url");
  const auto size = entry.find("size");
  const auto sha256 = entry.find("sha256");
  if (url == entry.end() || !url->is_string() || size == entry.end() ||
      !size->is_number_unsigned() || sha256 == entry.end() || !sha256->is_string()) {
    return false;
  }
  file.url = url->get<std::string>();
  file.size = size->get<std::uint64_t>();
  file.sha256 = sha256->get<std::string>();
  std::string folder;
  std::string name;
  return file.size > 0 && file.size <= kMaxLauncherBytes && NormaliseSha256Hex(file.sha256) &&
         SplitLauncherUrl("http://x/", file.url, folder, name);
}

}  // namespace

bool IsVersionText(const std::string& text) {
  std::vector<std::uint32_t> parts;
  return SplitVersion(text, parts);
}

int CompareVersions(const std::string& a, const std::string& b) {
  std::vector<std::uint32_t> left;
  std::vector<std::uint32_t> right;
  SplitVersion(a, left);
  SplitVersion(b, right);
  const std::size_t parts = std::max(left.size(), right.size());
  left.resize(parts, 0);
  right.resize(parts, 0);
  for (std::size_t i = 0; i < parts; ++i) {
    if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
  }
  return 0;
}

std::string LauncherReleasePath(const std::string& manifest_path) {
  const std::string path = manifest_path.substr(0, manifest_path.find('?'));
  const std::size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "launcher.json";
}

bool ParseLauncherRelease(const std::string& text, const std::string& platform,
                          LauncherRelease& release, Message& error) {
  error = Message(MessageCode::kLauncherReleaseInvalid);
  const Json doc = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return false;
  const auto version = doc.find("version");
  const auto platforms = doc.find("platforms");
  if (version == doc.end() || !version->is_string() ||
      !IsVersionText(version->get<std::string>()) || platforms == doc.end() ||
      !platforms->is_object()) {
    return false;
  }
  const auto entry = platforms->find(platform);
  if (entry == platforms->end()) {
    error = Message(MessageCode::kLauncherReleaseNoPlatform, platform);
    return false;
  }
  LauncherRelease parsed;
  parsed.version = version->get<std::string>();
  if (!ReadFile(*entry, parsed.file)) return false;
  release = std::move(parsed);
  error = {};
  return true;
}

bool SplitLauncherUrl(const std::string& release_folder_url, const std::string& url,
                      std::string& folder_url, std::string& name) {
  if (!PlainUrlText(url)) return false;
  const std::size_t slash = url.rfind('/');
  name = slash == std::string::npos ? url : url.substr(slash + 1);
  if (!IsSafeRelativePath(name)) return false;
  if (IsAbsoluteHttpUrl(url)) {
    // At least a host between the scheme and the file's name.
    const std::size_t host = url.find("//") + 2;
    if (slash <= host) return false;
    folder_url = url.substr(0, slash + 1);
    return true;
  }
  // A relative URL never leaves the folder launcher.json is served from.
  if (!IsSafeRelativePath(url)) return false;
  folder_url = release_folder_url + (slash == std::string::npos ? "" : url.substr(0, slash + 1));
  return true;
}

std::string WriteLauncherRelease(const std::string& version,
                                 const std::map<std::string, LauncherFile>& platforms) {
  Json doc = Json::object();
  doc["version"] = version;
  doc["platforms"] = Json::object();
  for (const auto& [name, file] : platforms) {
    doc["platforms"][name] = {{"url", file.url}, {"size", file.size}, {"sha256", file.sha256}};
  }
  return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace brisal

#include "tests/update/engine_fixture.h"

#include <nlohmann/json.hpp>

#include "client_files/sha256.h"
#include "net/http_client.h"
#include "update/engine.h"

namespace brisal::testing {

std::string Sha256Of(const std::string& content) {
  Sha256 hasher;
  hasher.Init();
  hasher.Update(content.data(), content.size());
  return hasher.FinishHex();
}

std::string MakeContent(std::size_t size, unsigned seed) {
  std::string content(size, '\0');
  std::uint32_t x = 2463534242u ^ (seed * 2654435761u);
  for (char& c : content) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x & 0xFF);
  }
  return content;
}

EngineTest::EngineTest() {
  OverrideDataFolder(data_.path());
  settings_.base_url = server_.Url("/brisal/");
  settings_.manifest = "manifest.json";
  settings_.files_path = "client/";
  settings_.news = "news.json";
  settings_.connections = 3;
  settings_.install_dir = install_.path();
  HandOverSettings(state_, settings_);
}

Manifest EngineTest::Publish(const std::map<std::string, std::string>& files,
                             const std::string& revision, const std::string& etag) {
  published_ = files;
  Manifest manifest;
  manifest.revision = revision;
  nlohmann::json doc = nlohmann::json::object();
  doc["revision"] = revision;
  doc["files"] = nlohmann::json::array();
  for (const auto& [path, content] : files) {
    ManifestEntry entry{path, content.size(), Sha256Of(content)};
    doc["files"].push_back({{"path", path}, {"size", entry.size}, {"sha256", entry.sha256}});
    manifest.files.push_back(entry);
    // The server sees the path as the client sends it: percent-encoded.
    server_.AddFile(BuildObjectName("/brisal/client/", path), content);
  }
  server_.AddFile("/brisal/manifest.json", doc.dump(), etag);
  return manifest;
}

void EngineTest::Check(EngineAction action, AfterCheck then) {
  RunJobWrapped(state_, JobKind::kExclusive, [&] { RunUpdateCheck(state_, action, then); });
}

void EngineTest::Update() {
  RunJobWrapped(state_, JobKind::kExclusive, [&] { RunUpdateJob(state_); });
}

void EngineTest::UseBaseUrl(const std::string& base_url) {
  settings_.base_url = base_url;
  HandOverSettings(state_, settings_);
}

std::vector<std::string> EngineTest::LogLines() const {
  std::string text = ReadFile(JoinPath(data_.path(), "launcher.log"));
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    // Drop the timestamp and its two spaces.
    lines.push_back(text.substr(start + 21, end - start - 21));
    start = end + 2;
  }
  return lines;
}

int EngineTest::RequestsFor(const std::string& path) const {
  int count = 0;
  for (const HttpTestRequest& request : server_.Requests()) {
    if (request.target == "/brisal/" + path) ++count;
  }
  return count;
}

}  // namespace brisal::testing

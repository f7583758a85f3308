// The manifest parser: whatever it accepts names only safe paths and well-formed hashes,
// and the accepted manifest written out again parses to the same entries.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

#include "client_files/manifest.h"
#include "core/paths.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using brisal::fuzz::Require;

bool IsLowerHex64(const std::string& hash) {
  if (hash.size() != 64) return false;
  for (char c : hash) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string Serialise(const brisal::Manifest& manifest) {
  nlohmann::json files = nlohmann::json::array();
  for (const brisal::ManifestEntry& entry : manifest.files) {
    files.push_back({{"path", entry.path}, {"size", entry.size}, {"sha256", entry.sha256}});
  }
  nlohmann::json document = {{"revision", manifest.revision}, {"files", files}};
  // Every string came out of the parser, which only hands over valid UTF-8: a throw
  // here is itself a finding.
  return document.dump();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  brisal::Manifest manifest;
  brisal::Message error;
  if (!brisal::ParseManifest(body, manifest, error)) {
    Require(!error.empty(), "a refused manifest says why");
    return 0;
  }
  Require(!manifest.files.empty(), "an accepted manifest lists files");
  for (const brisal::ManifestEntry& entry : manifest.files) {
    Require(brisal::IsSafeRelativePath(entry.path), "every accepted path is safe");
    Require(IsLowerHex64(entry.sha256), "every accepted hash is 64 lower-case hex digits");
  }

  brisal::Manifest again;
  brisal::Message again_error;
  Require(brisal::ParseManifest(Serialise(manifest), again, again_error),
          "a re-serialised manifest parses");
  Require(again.revision == manifest.revision, "the revision survives a round trip");
  Require(again.files.size() == manifest.files.size(), "the entry count survives");
  for (std::size_t i = 0; i < again.files.size(); ++i) {
    Require(again.files[i].path == manifest.files[i].path &&
                again.files[i].size == manifest.files[i].size &&
                again.files[i].sha256 == manifest.files[i].sha256,
            "every entry survives a round trip");
  }
  return 0;
}

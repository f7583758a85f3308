// launcher.json: any text parses without crashing; what is accepted names a version, a
// size within the cap, a digest and a file whose name is safe and whose folder stays
// below launcher.json's own, and it is written out again to the same release.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/paths.h"
#include "tests/fuzz/fuzz_support.h"
#include "update/launcher_release.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using brisal::fuzz::Require;
  const std::string text(reinterpret_cast<const char*>(data), size);
  brisal::LauncherRelease release;
  brisal::Message error;
  if (!brisal::ParseLauncherRelease(text, "windows-x64", release, error)) {
    Require(error.code == brisal::MessageCode::kLauncherReleaseInvalid ||
                error.code == brisal::MessageCode::kLauncherReleaseNoPlatform,
            "a refused launcher.json says why");
    return 0;
  }
  Require(brisal::IsVersionText(release.version), "the version is dotted numbers");
  Require(brisal::CompareVersions(release.version, release.version) == 0,
          "a version equals itself");
  Require(release.file.size > 0 && release.file.size <= brisal::kMaxLauncherBytes,
          "the size is within the cap");
  Require(release.file.sha256.size() == 64, "the digest is 64 hex digits");
  const std::string base = "http://servidor.example/brisal/";
  std::string folder;
  std::string name;
  Require(brisal::SplitLauncherUrl(base, release.file.url, folder, name),
          "an accepted URL names a file");
  Require(brisal::IsSafeRelativePath(name) && name.find('/') == std::string::npos,
          "the file's name is one safe segment");
  Require(!folder.empty() && folder.back() == '/', "the folder URL ends in /");
  std::string scheme = release.file.url.substr(0, 8);
  for (char& c : scheme)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  const bool absolute = scheme.rfind("http://", 0) == 0 || scheme.rfind("https://", 0) == 0;
  Require(absolute || (brisal::IsSafeRelativePath(release.file.url) && folder.rfind(base, 0) == 0),
          "a relative URL stays below launcher.json");

  brisal::LauncherRelease again;
  Require(brisal::ParseLauncherRelease(
              brisal::WriteLauncherRelease(release.version, {{"windows-x64", release.file}}),
              "windows-x64", again, error),
          "a release written out parses again");
  Require(again.version == release.version && again.file.url == release.file.url &&
              again.file.size == release.file.size && again.file.sha256 == release.file.sha256,
          "to the same release");
  return 0;
}

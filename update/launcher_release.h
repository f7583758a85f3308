// launcher.json: what the operator publishes beside the manifest so that launchers
// already on players' machines can replace themselves. brisal-cli publish-launcher
// writes it; with a manifest key it is signed like the manifest ("launcher.json.sig").
//
//   {"version": "1.2.0",
//    "platforms": {"windows-x64":  {"url": "...", "size": N, "sha256": "<64 hex>"},
//                  "linux-x86_64": {...}}}
//
// "url" is relative to the folder launcher.json is served from, or an absolute http(s)
// address; its last segment is the name the new program is downloaded under. Like
// every document from the server, it is hostile until each field is checked here.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "core/messages.h"

namespace brisal {

// Larger than any launcher will be, small enough that a lying launcher.json cannot
// make a player download a client-sized file.
inline constexpr std::uint64_t kMaxLauncherBytes = 256ull * 1024 * 1024;

struct LauncherFile {
  std::string url;
  std::uint64_t size = 0;
  std::string sha256;  // 64 lower-case hex digits
};

struct LauncherRelease {
  std::string version;
  LauncherFile file;  // this platform's
};

// One to four dotted decimal numbers ("1", "1.2.0"), each at most 9 digits.
bool IsVersionText(const std::string& text);

// Negative, zero or positive as `a` is older than, the same as or newer than `b`;
// missing trailing parts count as 0 ("1.2" == "1.2.0"). Both must be version texts.
int CompareVersions(const std::string& a, const std::string& b);

// launcher.json's path relative to base_url: beside the manifest, whose own path may
// carry a query.
std::string LauncherReleasePath(const std::string& manifest_path);

// The release for `platform`, with every field checked. False with kLauncherReleaseInvalid
// or kLauncherReleaseNoPlatform.
bool ParseLauncherRelease(const std::string& text, const std::string& platform,
                          LauncherRelease& release, Message& error);

// Where a release's file is fetched from: the folder URL to open the connection on, and
// the file's name below it (also the name it is downloaded under). `release_folder_url`
// is launcher.json's own folder, ending in "/". False when the URL names no file.
bool SplitLauncherUrl(const std::string& release_folder_url, const std::string& url,
                      std::string& folder_url, std::string& name);

// The text of launcher.json for `version` and the files per platform, as the parser
// above reads it.
std::string WriteLauncherRelease(const std::string& version,
                                 const std::map<std::string, LauncherFile>& platforms);

}  // namespace brisal

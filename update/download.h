// One attempt at fetching one manifest entry into the install folder: the bytes go
// to "<target>.bpart", a partial file left by anything earlier is resumed with a
// Range request, the result must match the manifest's size and SHA-256, and only
// then is it moved over the target and recorded in the file-state cache.
#pragma once

#include <cstdint>
#include <string>

#include "client_files/manifest.h"

namespace brisal {

class HttpClient;
struct LauncherState;
struct WorkerSlot;

// "/"-separated, relative to the live install folder: everything below it is changed
// through InstallTree, which never follows a link.
struct EntryPaths {
  std::string target;
  std::string partial;
};

EntryPaths PathsForEntry(const ManifestEntry& entry);

// The sentence for a file whose path leads through a link inside the install folder.
std::string ThroughLinkMessage(const std::string& path);

// True when the target now holds the verified file. False with `error` untouched
// means the cancel flag stopped the attempt. Every byte added to bytes_done is also
// added to `attempt_bytes`, so the caller can take a failed attempt back exactly.
bool DownloadFile(LauncherState& state, HttpClient& client, const ManifestEntry& entry,
                  const std::string& partial_path, const std::string& target_path, WorkerSlot& slot,
                  std::uint64_t& attempt_bytes, std::string& error);

}  // namespace brisal

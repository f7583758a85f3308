// The server's manifest: every client file with its size and SHA-256.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brisal {

// A download in progress: "<target>.bpart" beside its target.
inline constexpr const char* kPartialSuffix = ".bpart";

// Whether a "/"-separated path names one of the launcher's own files in the install
// folder (its state file, its lock, a partial download or a half-written file), in
// any letter case: a manifest may never list one, or the client's file and the
// launcher's would overwrite each other.
bool IsLauncherOwnPath(const std::string& path);

struct ManifestEntry {
  std::string path;  // "/"-separated, already accepted by IsSafeRelativePath
  std::uint64_t size = 0;
  std::string sha256;  // 64 lower-case hex characters
};

struct Manifest {
  std::string revision;              // empty when the document has none
  std::vector<ManifestEntry> files;  // document order; duplicates kept
};

// Parses and validates a manifest body. On failure returns false with one Spanish
// sentence in `error`; `manifest` is then meaningless.
bool ParseManifest(const std::string& body, Manifest& manifest, std::string& error);

}  // namespace brisal

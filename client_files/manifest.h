// The server's manifest: every client file with its size and SHA-256.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/messages.h"

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
  // Read always, held to only when the manifest must be signed: a launcher with a key
  // refuses a lower serial than it accepted before, and a manifest past its expiry.
  std::optional<std::uint64_t> serial;  // "serial"
  std::optional<std::int64_t> expires;  // "expires", seconds since 1970-01-01 UTC
  bool guards_malformed = false;        // "serial" or "expires" present but unusable
};

// Parses and validates a manifest body. On failure returns false with what is wrong
// in `error` (the offending path as its subject, as the server wrote it); `manifest`
// is then meaningless.
bool ParseManifest(const std::string& body, Manifest& manifest, Message& error);

// The one text form of "expires": "YYYY-MM-DDTHH:MM:SSZ", always UTC. Parsing takes
// exactly that form, with a real date and time.
std::string FormatUtcTime(std::int64_t unix_seconds);
bool ParseUtcTime(const std::string& text, std::int64_t& unix_seconds);

}  // namespace brisal

// Block reuse: before an update downloads a large file whose older version (or a part
// of it) is on the player's disk, it fetches the file's block map from beside the
// manifest, cuts the local file with the same rolling hash, and plans the new file as
// a sequence of pieces: chunks to copy from the local file and byte ranges to fetch.
// The new file is built from the start on, so its partial file is always a prefix of
// it and an interrupted update resumes like any other download. No map, or one that
// does not hold up, means a whole-file download.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "client_files/block_map.h"
#include "client_files/manifest.h"

namespace brisal {

class InstallTree;
struct JobSettings;

struct ReusePiece {
  std::uint64_t offset = 0;  // in the new file
  std::uint64_t length = 0;
  bool local = false;              // copied from the old file, else fetched
  std::uint64_t local_offset = 0;  // where the old file holds it
  std::string hash;                // the chunk's hash, checked before the copy
};

struct ReusePlan {
  std::vector<ReusePiece> pieces;  // empty: fetch the whole file

  bool empty() const { return pieces.empty(); }
  // Bytes to fetch from `resume` (what the partial file already holds) on.
  std::uint64_t FetchBytesFrom(std::uint64_t resume) const;
  // Bytes of the first `prefix` that the plan fetches rather than copies.
  std::uint64_t FetchBytesBefore(std::uint64_t prefix) const;
  std::uint64_t Fetches() const;
};

// At most this many ranged requests a file; nearer fetches are merged first.
inline constexpr std::size_t kMaxFetchesPerFile = 256;

// The chunks of `map` the local file holds (same hash and length) are copied, the rest
// fetched; neighbouring fetches become one, and the closest ones are merged until no
// more than `max_fetches` remain.
ReusePlan PlanReuse(const BlockMap& map, const std::vector<Chunk>& local, std::size_t max_fetches);

// The block map's path below the base URL: "blocks/<sha256>" beside the manifest.
std::string BlockMapPath(const std::string& manifest_path, const std::string& sha256);

// A plan for every entry of `work`, in its order, on up to `threads` threads: a large
// file with an older version at its path gets its map fetched and the old file cut;
// any other gets an empty plan. A cancel leaves the plans not yet made empty.
std::vector<ReusePlan> PlanBlockReuse(const JobSettings& settings, const InstallTree& tree,
                                      const std::vector<ManifestEntry>& work, std::size_t threads,
                                      const std::atomic<bool>& cancel);

}  // namespace brisal

// The check's comparison of every manifest entry with the install folder: attributes
// first, the file-state cache where it vouches for a file, a hash where it cannot.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "client_files/manifest.h"

namespace brisal {

class FileStateCache;
struct Progress;

struct FolderScan {
  const Manifest& manifest;
  const std::string& install_dir;
  FileStateCache& cache;
  Progress& progress;  // files_total and files_done count judged files
  const std::atomic<bool>& cancel;
  bool verify_all = false;  // rehash every present file of the right size
};

// The comparison's outcome, published only when the whole pass completes.
struct Comparison {
  std::vector<ManifestEntry> download;
  std::vector<std::string> remove;  // recorded files the manifest no longer lists
  std::uint64_t bytes = 0;
  std::uint32_t intact = 0;
  bool rehashed = false;  // the cache learnt something worth saving
};

// False when a cancel stopped it; `out` is then incomplete.
bool CompareWithFolder(const FolderScan& scan, Comparison& out);

}  // namespace brisal

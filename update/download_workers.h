// The update's connections: up to eight workers, each with its own HTTP client, take
// files from one queue (largest first) until it is empty, a file fails or a cancel
// comes. The calling thread saves the file-state cache every 150 files meanwhile, so
// no connection waits for the disk.
#pragma once

#include <cstddef>
#include <vector>

#include "client_files/manifest.h"
#include "core/messages.h"
#include "update/block_reuse.h"
#include "update/download.h"

namespace brisal {

struct WorkerSlot;

// Returns the first failure; empty when every file was placed or a cancel stopped
// them. `slots` has at least `workers` entries; `plans` is empty or one per file.
Message DownloadAll(const DownloadContext& context, const std::vector<ManifestEntry>& work,
                    const std::vector<ReusePlan>& plans, std::size_t workers,
                    WorkerSlot* slots);

}  // namespace brisal

#include "update/update_job.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/files.h"
#include "core/install_tree.h"
#include "core/log.h"
#include "core/paths.h"
#include "update/block_reuse.h"
#include "update/download.h"
#include "update/download_sources.h"
#include "update/download_workers.h"
#include "update/folder_cleanup.h"
#include "update/manifest_trust.h"
#include "update/update_check.h"

namespace brisal {

namespace {

StepOutcome Failed(LauncherState& state, Message message) {
  Log("actualizacion fallida: %s", Sentence(message).c_str());
  SetPhase(state, UpdatePhase::kFailed, message);
  return StepOutcome{StepResult::kFailed, std::move(message)};
}

// What a partial file of the entry already holds, which is never fetched again.
std::uint64_t PartialBytes(const InstallTree& tree, const ManifestEntry& entry) {
  TreeEntry partial;
  if (tree.Stat(entry.path + kPartialSuffix, partial) == TreeResult::kDone && partial.is_regular &&
      partial.size <= entry.size) {
    return partial.size;
  }
  return 0;
}

// The bytes still to write against the free space of the install folder's volume
// (a file built from its old version still needs room for all of it). The sentence
// when they do not fit; nothing when they do or the free space is unknown (the
// downloads will find out).
Message CheckSpace(const InstallTree& tree, const std::vector<ManifestEntry>& work) {
  std::uint64_t needed = 0;
  for (const ManifestEntry& entry : work)
    needed += entry.size - PartialBytes(tree, entry);
  std::uint64_t free_bytes = 0;
  if (!tree.FreeSpace(free_bytes) || needed <= free_bytes) return {};
  return Message(MessageCode::kNotEnoughSpace, {}, needed, free_bytes);
}

void StartProgress(Progress& progress, const std::vector<ManifestEntry>& work) {
  std::uint64_t total = 0;
  for (const ManifestEntry& entry : work)
    total += entry.size;
  progress.bytes_total.store(total);
  progress.bytes_done.store(0);
  progress.bytes_spared.store(0);
  progress.files_total.store(static_cast<std::uint32_t>(work.size()));
  progress.files_done.store(0);
  for (WorkerSlot& slot : progress.slots) {
    slot.file_size.store(0);
    slot.file_done.store(0);
    MutexLock guard(slot.lock);
    slot.file_path.clear();
  }
}

// The totals count what crosses the wire, not what the old versions of the files
// provide. What partial files hold counts as done when their download opens them.
void CountBytesToFetch(Progress& progress, const std::vector<ManifestEntry>& work,
                       const std::vector<ReusePlan>& plans) {
  std::uint64_t total = 0;
  std::uint64_t spared = 0;
  for (std::size_t i = 0; i < work.size(); ++i) {
    const std::uint64_t fetch = plans[i].empty() ? work[i].size : plans[i].FetchBytesFrom(0);
    total += fetch;
    spared += work[i].size - fetch;
  }
  progress.bytes_total.store(total);
  progress.bytes_spared.store(spared);
  if (spared > 0) {
    Log("se reutilizan %llu bytes de los archivos instalados; se descargan %llu",
        static_cast<unsigned long long>(spared), static_cast<unsigned long long>(total));
  }
}

// Removes what the new manifest no longer lists and records the revision.
void Finish(LauncherState& state, const InstallTree& tree) REQUIRES(state.plan.job_lock) {
  for (const std::string& path : state.plan.to_delete)
    DeleteObsolete(state.cache, tree, path);
  RemoveOrphanPartials(state.plan.manifest, tree);
  state.plan.to_delete.clear();
  state.plan.to_download.clear();
  state.cache.SetRevision(state.plan.manifest.revision);
  state.cache.Save(state.plan.live.install_dir);
  state.progress.update_files.store(0);
  state.progress.update_bytes.store(0);
}

}  // namespace

StepOutcome UpdateStep(LauncherState& state, FolderLock& lock) {
  std::vector<ManifestEntry> work = state.plan.to_download;
  std::stable_sort(work.begin(), work.end(),
                   [](const ManifestEntry& a, const ManifestEntry& b) { return a.size > b.size; });
  StartProgress(state.progress, work);
  SetPhase(state, UpdatePhase::kDownloading);

  if (!EnsureDirectory(state.plan.live.install_dir)) {
    SetPhase(state, UpdatePhase::kFailed, Message(MessageCode::kCannotCreateInstallFolder));
    return StepOutcome{StepResult::kFailed, Message(MessageCode::kCannotCreateInstallFolder)};
  }
  if (!lock.held() && !LockInstallFolder(state, lock, false)) {
    return StepOutcome{StepResult::kFailed, Message(MessageCode::kFolderBusy)};
  }
  // The plan may be older than the manifest's expiry, or than a newer manifest another
  // engine accepted for this folder since.
  if (Message distrust;
      !ManifestTrusted(state, state.plan.manifest, state.plan.manifest_sha256, distrust)) {
    return Failed(state, std::move(distrust));
  }
  const InstallTree tree(state.plan.live.install_dir);
  if (Message no_space = CheckSpace(tree, work); !no_space.empty()) {
    return Failed(state, std::move(no_space));
  }
  ClearTheWay(state.cache, tree, work, state.plan.to_delete);

  const std::size_t workers =
      std::min({static_cast<std::size_t>(std::max(state.plan.live.connections, 1)),
                static_cast<std::size_t>(kMaxWorkers), work.size()});
  // Large files whose older version is on disk may need only some of their bytes.
  const std::vector<ReusePlan> plans =
      PlanBlockReuse(state.plan.live, tree, work, workers, state.jobs.cancel);
  if (state.jobs.cancel.load()) {
    Log("actualizacion cancelada");
    return StepOutcome{StepResult::kCancelled, {}};
  }
  CountBytesToFetch(state.progress, work, plans);

  DownloadSources sources(state.plan.live.base_url, state.plan.live.mirrors);
  const DownloadContext context{state.plan.live,          state.cache, state.progress,
                                state.jobs.cancel,        sources,     state.jobs.retry_pause,
                                state.jobs.download_limit};
  Message failure = DownloadAll(context, work, plans, workers, state.progress.slots.data());
  // A plain save: it adds no durability of its own. Every file the cache records was
  // flushed before it was moved into place, so what the saved state vouches for is on
  // disk already.
  state.cache.Save(state.plan.live.install_dir);

  if (state.jobs.cancel.load()) {
    Log("actualizacion cancelada");
    return StepOutcome{StepResult::kCancelled, {}};
  }
  if (!failure.empty()) return Failed(state, std::move(failure));
  Finish(state, tree);
  Log("actualizacion completada (%zu archivos)", work.size());
  SetPhase(state, UpdatePhase::kUpToDate);
  return StepOutcome{StepResult::kUpToDate, {}};
}

}  // namespace brisal

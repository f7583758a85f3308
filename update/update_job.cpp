#include "update/update_job.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>
#include <system_error>
#include <thread>

#include "core/files.h"
#include "core/log.h"
#include "core/paths.h"
#include "net/http_client.h"
#include "shared_state/launcher_state.h"
#include "update/download.h"
#include "update/update_check.h"

namespace brisal {

namespace {

constexpr int kAttempts = 3;
constexpr std::uint32_t kSaveEvery = 150;
constexpr auto kWaitSlice = std::chrono::milliseconds(100);

// Sleeps `slices` × 100 ms, returning early when a cancel arrives.
void WaitUnlessCancelled(LauncherState& state, int slices) {
  for (int i = 0; i < slices && !state.cancel.load(); ++i)
    std::this_thread::sleep_for(kWaitSlice);
}

void RecordFailure(UpdateJobData& job, const std::string& message) {
  std::lock_guard<std::mutex> guard(job.error_lock);
  if (!job.failed.load()) {
    job.first_error = message;
    job.failed.store(true);
  }
}

// Deletes an obsolete file and the folders it leaves empty, never climbing to or
// above the install folder. The cache record goes whether or not the file could be
// deleted.
void DeleteObsolete(LauncherState& state, const std::string& path) {
  const std::string& install_dir = state.live.install_dir;
  // Keys come from the state file; a hand-edited one must never reach outside.
  if (IsSafeRelativePath(path)) {
    const std::string target = JoinPath(install_dir, ManifestPathToNative(path));
    ClearReadOnly(target);
    DeleteFileAt(target);
    for (std::string folder = ParentPath(target); folder.size() > install_dir.size();
         folder = ParentPath(folder)) {
      if (!RemoveEmptyDirectory(folder)) break;
    }
  }
  state.cache.Erase(path);
}

// A plain save: it adds no durability of its own. Every file the cache records was
// flushed before it was moved into place, so what the saved state vouches for is on
// disk already.
void SaveFileStateCache(LauncherState& state) { state.cache.Save(state.live.install_dir); }

}  // namespace

bool DownloadWithRetries(LauncherState& state, HttpClient& client, const ManifestEntry& entry,
                         WorkerSlot& slot, std::string& error) {
  const EntryPaths paths = PathsForEntry(state, entry);
  EnsureDirectory(ParentPath(paths.target));
  {
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.file_path = entry.path;
  }
  slot.file_size.store(entry.size);
  slot.file_done.store(0);

  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    if (state.cancel.load()) return false;
    if (attempt > 1) {
      WaitUnlessCancelled(state, attempt == 2 ? 7 : 14);
      if (state.cancel.load()) return false;
    }
    std::uint64_t attempt_bytes = 0;
    if (DownloadFile(state, client, entry, paths.partial, paths.target, slot, attempt_bytes,
                     error)) {
      return true;
    }
    state.bytes_done.fetch_sub(attempt_bytes);
    if (state.cancel.load()) return false;
    Log("reintento %d de %s: %s", attempt, entry.path.c_str(), error.c_str());
  }
  return false;
}

namespace {

void DownloadFiles(int index, UpdateJobData& job) {
  LauncherState& state = job.state;
  HttpClient client;
  if (!client.Open(state.live.base_url)) {
    RecordFailure(job, "La dirección del servidor no es válida (base_url en config.json)");
    return;
  }
  if (job.failed.load()) return;
  WorkerSlot& slot = state.slots[index];
  std::string error;
  while (!state.cancel.load()) {
    const std::uint64_t k = job.next_index.fetch_add(1);
    if (k >= job.work.size()) return;
    error.clear();
    if (DownloadWithRetries(state, client, job.work[k], slot, error)) {
      const std::uint32_t finished = state.files_done.fetch_add(1) + 1;
      if (finished % kSaveEvery == 0) SaveFileStateCache(state);
      if (job.failed.load()) return;
    } else {
      if (!state.cancel.load()) RecordFailure(job, error);
      return;
    }
  }
}

}  // namespace

void DownloadWorker(int index, UpdateJobData& job) {
  // Nothing catches above a worker's own thread: what escapes would end the process.
  // It ends the job as a failure instead, as the job wrapper does for a job.
  try {
    DownloadFiles(index, job);
  } catch (const std::exception& e) {
    RecordFailure(job, std::string("Error interno: ") + e.what());
  } catch (...) {
    RecordFailure(job, "Error interno inesperado");
  }
}

void RunUpdateJob(LauncherState& state) {
  const auto phase = static_cast<UpdatePhase>(state.phase.load());
  if (phase != UpdatePhase::kNotInstalled && phase != UpdatePhase::kUpdateAvailable) return;
  // A job queued before the player cancelled the download must not start it again.
  if (state.downloads_held.load()) return;

  UpdateJobData job(state, state.to_download);
  std::stable_sort(job.work.begin(), job.work.end(),
                   [](const ManifestEntry& a, const ManifestEntry& b) { return a.size > b.size; });

  std::uint64_t total = 0;
  for (const ManifestEntry& entry : job.work)
    total += entry.size;
  state.bytes_total.store(total);
  state.bytes_done.store(0);
  state.files_total.store(static_cast<std::uint32_t>(job.work.size()));
  state.files_done.store(0);
  for (WorkerSlot& slot : state.slots) {
    slot.file_size.store(0);
    slot.file_done.store(0);
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.file_path.clear();
  }
  SetPhase(state, UpdatePhase::kDownloading, "");

  if (!EnsureDirectory(state.live.install_dir)) {
    SetPhase(state, UpdatePhase::kFailed,
             "No se pudo crear la carpeta de instalación. Elige otra carpeta.");
    return;
  }

  std::size_t workers = static_cast<std::size_t>(std::max(state.live.connections, 1));
  workers = std::min({workers, static_cast<std::size_t>(kMaxWorkers), job.work.size()});
  std::vector<std::thread> threads;
  threads.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i) {
    try {
      threads.emplace_back(DownloadWorker, static_cast<int>(i), std::ref(job));
    } catch (const std::system_error&) {
      // Out of threads: the ones already running carry the work on their own.
      if (threads.empty()) RecordFailure(job, "Error interno: no se pudo iniciar la descarga");
      break;
    }
  }
  for (std::thread& thread : threads)
    thread.join();

  SaveFileStateCache(state);

  if (state.cancel.load()) {
    Log("actualizacion cancelada");
    state.downloads_held.store(true);
    state.cancel.store(false);
    RunUpdateCheck(state, false, false, false);
    return;
  }
  if (job.failed.load()) {
    std::string message;
    {
      std::lock_guard<std::mutex> guard(job.error_lock);
      message = job.first_error;
    }
    Log("actualizacion fallida: %s", message.c_str());
    SetPhase(state, UpdatePhase::kFailed, message);
    return;
  }

  for (const std::string& path : state.to_delete)
    DeleteObsolete(state, path);
  state.to_delete.clear();
  state.to_download.clear();
  state.cache.SetRevision(state.last_manifest.revision);
  SaveFileStateCache(state);
  state.update_files.store(0);
  state.update_bytes.store(0);
  Log("actualizacion completada (%zu archivos)", job.work.size());
  SetPhase(state, UpdatePhase::kUpToDate, "");
}

}  // namespace brisal

#include "update/update_job.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "core/files.h"
#include "core/install_tree.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "net/http_client.h"
#include "shared_state/launcher_state.h"
#include "update/download.h"
#include "update/update_check.h"

namespace brisal {

namespace {

constexpr int kAttempts = 3;
constexpr std::uint32_t kSaveEvery = 150;
constexpr auto kWaitSlice = std::chrono::milliseconds(100);

// Sleeps `pause` in slices of at most 100 ms, returning early when a cancel arrives.
void WaitUnlessCancelled(LauncherState& state, std::chrono::milliseconds pause) {
  while (pause.count() > 0 && !state.cancel.load()) {
    const auto slice = std::min<std::chrono::milliseconds>(pause, kWaitSlice);
    std::this_thread::sleep_for(slice);
    pause -= slice;
  }
}

void RecordFailure(UpdateJobData& job, const std::string& message) {
  std::lock_guard<std::mutex> guard(job.error_lock);
  if (!job.failed.load()) {
    job.first_error = message;
    job.failed.store(true);
  }
}

// Deletes an obsolete file and the folders it leaves empty, never the install folder
// itself, and never through a link. The cache record goes whether or not the file
// could be deleted.
void DeleteObsolete(LauncherState& state, const InstallTree& tree, const std::string& path) {
  // Keys come from the state file; a hand-edited one must never reach outside.
  if (IsSafeRelativePath(path) && tree.RemoveFile(path) != TreeResult::kLink) {
    for (std::string folder = ParentManifestPath(path); !folder.empty();
         folder = ParentManifestPath(folder)) {
      if (tree.RemoveFolder(folder) != TreeResult::kDone) break;
    }
  }
  state.cache.Erase(path);
}

// The bytes still to fetch (what partial files hold already is not fetched again)
// against the free space of the install folder's volume. False, with the sentence,
// when they do not fit; an unknown free space lets the downloads find out.
bool EnoughSpace(const InstallTree& tree, const std::vector<ManifestEntry>& work,
                 std::string& message) {
  std::uint64_t needed = 0;
  TreeEntry partial;
  for (const ManifestEntry& entry : work) {
    std::uint64_t have = 0;
    if (tree.Stat(entry.path + kPartialSuffix, partial) == TreeResult::kDone &&
        partial.is_regular && partial.size <= entry.size) {
      have = partial.size;
    }
    needed += entry.size - have;
  }
  std::uint64_t free_bytes = 0;
  if (!tree.FreeSpace(free_bytes) || needed <= free_bytes) return true;
  message = "Espacio insuficiente: se necesitan " + FormatSize(needed) + " y hay " +
            FormatSize(free_bytes) + " libres";
  return false;
}

// A file that becomes a folder, or a folder that becomes a file: what stands in the
// way of a download is removed first when it is an obsolete recorded file, or a
// folder holding only such files. Nothing the launcher did not record is removed; a
// download blocked by it fails with its sentence.
void ClearTheWay(LauncherState& state, const InstallTree& tree,
                 const std::vector<ManifestEntry>& work) {
  if (state.to_delete.empty()) return;
  const std::unordered_set<std::string> obsolete(state.to_delete.begin(), state.to_delete.end());
  TreeEntry found;
  for (const ManifestEntry& entry : work) {
    for (std::string folder = ParentManifestPath(entry.path); !folder.empty();
         folder = ParentManifestPath(folder)) {
      if (obsolete.count(folder) != 0 && tree.Stat(folder, found) == TreeResult::kDone &&
          found.is_regular) {
        DeleteObsolete(state, tree, folder);
      }
    }
    if (tree.Stat(entry.path, found) == TreeResult::kDone && found.is_directory) {
      const std::string inside = entry.path + "/";
      for (const std::string& path : state.to_delete) {
        if (path.compare(0, inside.size(), inside) == 0) DeleteObsolete(state, tree, path);
      }
    }
  }
}

// Partial files of entries the manifest no longer lists would otherwise stay forever:
// nothing would ever resume or delete them.
void RemoveOrphanPartials(const Manifest& manifest, const InstallTree& tree) {
  std::unordered_set<std::string> listed;
  listed.reserve(manifest.files.size());
  for (const ManifestEntry& entry : manifest.files)
    listed.insert(FileNameKey(entry.path));
  const std::string suffix = FileNameKey(kPartialSuffix);
  tree.ForEachFile([&](const std::string& path) {
    const std::string key = FileNameKey(path);
    if (key.size() > suffix.size() &&
        key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        listed.count(key.substr(0, key.size() - suffix.size())) == 0) {
      tree.RemoveFile(path);
    }
  });
}

// A plain save: it adds no durability of its own. Every file the cache records was
// flushed before it was moved into place, so what the saved state vouches for is on
// disk already.
void SaveFileStateCache(LauncherState& state) { state.cache.Save(state.live.install_dir); }

}  // namespace

bool DownloadWithRetries(LauncherState& state, HttpClient& client, const ManifestEntry& entry,
                         WorkerSlot& slot, std::string& error) {
  const EntryPaths paths = PathsForEntry(entry);
  {
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.file_path = entry.path;
  }
  slot.file_size.store(entry.size);
  slot.file_done.store(0);
  // Missing folders are made here; one that cannot be made shows up as the partial
  // file that cannot be written. A link on the way is final: no retry goes past it.
  const InstallTree tree(state.live.install_dir);
  if (tree.CreateParents(paths.target) == TreeResult::kLink) {
    error = ThroughLinkMessage(entry.path);
    return false;
  }
  // What the job could not clear out of the way is the player's: no attempt can pass.
  TreeEntry standing;
  if (tree.Stat(paths.target, standing) == TreeResult::kDone && standing.is_directory) {
    error = "No se instaló " + entry.path +
            ": en su lugar hay una carpeta con archivos que el launcher no instaló";
    return false;
  }

  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    if (state.cancel.load()) return false;
    if (attempt > 1) {
      WaitUnlessCancelled(state, attempt == 2 ? state.retry_pause : 2 * state.retry_pause);
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
      if (finished % kSaveEvery == 0) {
        {
          std::lock_guard<std::mutex> guard(job.save_lock);
          job.save_asked = true;
        }
        job.save_wanted.notify_one();
      }
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
  {
    std::lock_guard<std::mutex> guard(job.save_lock);
    --job.running;
  }
  job.save_wanted.notify_one();
}

void RunUpdateJob(LauncherState& state) {
  FolderLock lock;
  RunUpdateJob(state, lock);
}

void RunUpdateJob(LauncherState& state, FolderLock& lock) {
  const auto phase = static_cast<UpdatePhase>(state.phase.load());
  if (phase != UpdatePhase::kNotInstalled && phase != UpdatePhase::kUpdateAvailable) return;
  // A job queued before the player cancelled the download must not start it again.
  if (state.downloads_held.load()) return;
  // The phase may still be another folder's or server's: the folder changed while
  // this job waited for its turn. Check this one first; the check goes on with the
  // update when there is work.
  if (!state.have_plan) {
    RunUpdateCheck(state, lock, false, false, true);
    return;
  }

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
  if (!lock.held() && !LockInstallFolder(state, lock, false)) return;

  const InstallTree tree(state.live.install_dir);
  std::string no_space;
  if (!EnoughSpace(tree, job.work, no_space)) {
    Log("actualizacion fallida: %s", no_space.c_str());
    SetPhase(state, UpdatePhase::kFailed, no_space);
    return;
  }
  ClearTheWay(state, tree, job.work);

  std::size_t workers = static_cast<std::size_t>(std::max(state.live.connections, 1));
  workers = std::min({workers, static_cast<std::size_t>(kMaxWorkers), job.work.size()});
  std::vector<std::thread> threads;
  threads.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i) {
    {
      std::lock_guard<std::mutex> guard(job.save_lock);
      ++job.running;
    }
    try {
      threads.emplace_back(DownloadWorker, static_cast<int>(i), std::ref(job));
    } catch (const std::system_error&) {
      {
        std::lock_guard<std::mutex> guard(job.save_lock);
        --job.running;
      }
      // Out of threads: the ones already running carry the work on their own.
      if (threads.empty()) RecordFailure(job, "Error interno: no se pudo iniciar la descarga");
      break;
    }
  }
  // The periodic saves, made here while the workers keep their connections busy.
  std::unique_lock<std::mutex> saves(job.save_lock);
  while (true) {
    job.save_wanted.wait(saves, [&] { return job.save_asked || job.running == 0; });
    if (!job.save_asked) break;
    job.save_asked = false;
    saves.unlock();
    SaveFileStateCache(state);
    saves.lock();
  }
  saves.unlock();
  for (std::thread& thread : threads)
    thread.join();

  SaveFileStateCache(state);

  if (state.cancel.load()) {
    Log("actualizacion cancelada");
    state.downloads_held.store(true);
    state.cancel.store(false);
    RunUpdateCheck(state, lock, false, false, false);
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
    DeleteObsolete(state, tree, path);
  RemoveOrphanPartials(state.last_manifest, tree);
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

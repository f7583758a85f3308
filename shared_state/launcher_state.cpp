#include "shared_state/launcher_state.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "core/log.h"

namespace brisal {

JobSettings MakeJobSettings(const LauncherConfig& config, const std::string& install_dir) {
  JobSettings settings;
  settings.base_url = config.base_url;
  settings.manifest = config.manifest;
  settings.files_path = config.files_path;
  settings.news = config.news;
  settings.connections = config.connections;
  settings.install_dir = install_dir;
  return settings;
}

bool IsBusyPhase(UpdatePhase phase) {
  return phase == UpdatePhase::kChecking || phase == UpdatePhase::kVerifying ||
         phase == UpdatePhase::kDownloading;
}

UpdatePhase CurrentPhase(const LauncherState& state) {
  return static_cast<UpdatePhase>(state.phase.load());
}

void SetPhase(LauncherState& state, UpdatePhase phase, const std::string& text) {
  const auto value = static_cast<std::uint32_t>(phase);
  bool changed;
  {
    std::lock_guard<std::mutex> guard(state.state_lock);
    changed = value != state.phase.load() || text != state.status_text;
    state.status_text = text;
    // Stored under the lock so that phase and text never disagree for a reader that
    // takes the lock; readers of the phase alone need no lock.
    state.phase.store(value);
  }
  switch (phase) {
    case UpdatePhase::kNotInstalled:
    case UpdatePhase::kUpdateAvailable:
    case UpdatePhase::kUpToDate:
    case UpdatePhase::kOffline:
    case UpdatePhase::kFailed:
      state.settled_phase.store(value);
      break;
    default:
      break;
  }
  if (changed && state.notify) state.notify();
}

std::string StatusText(LauncherState& state) {
  std::lock_guard<std::mutex> guard(state.state_lock);
  return state.status_text;
}

void RunJobWrapped(LauncherState& state, bool exclusive, const std::function<void()>& job) {
  try {
    if (exclusive) {
      std::lock_guard<std::mutex> guard(state.job_lock);
      state.cancel.store(false);
      ApplyPendingSettings(state);
      job();
    } else {
      job();
    }
  } catch (const std::exception& e) {
    Log("excepcion en hilo: %s", e.what());
    if (exclusive) SetPhase(state, UpdatePhase::kFailed, std::string("Error interno: ") + e.what());
  } catch (...) {
    Log("excepcion desconocida en hilo");
    if (exclusive) SetPhase(state, UpdatePhase::kFailed, "Error interno inesperado");
  }
}

namespace {

// One count in `exclusive_jobs`, given back once.
class JobCount {
 public:
  explicit JobCount(LauncherState& state) : state_(&state) {}
  JobCount(const JobCount&) = delete;
  JobCount& operator=(const JobCount&) = delete;
  ~JobCount() { Release(); }
  void Release() {
    if (state_) state_->exclusive_jobs.fetch_sub(1);
    state_ = nullptr;
  }

 private:
  LauncherState* state_;
};

}  // namespace

void StartJob(LauncherState& state, bool exclusive, std::function<void()> job) {
  // Counted before the thread exists, so the window never sees a started job as absent.
  if (exclusive) state.exclusive_jobs.fetch_add(1);
  try {
    std::thread([&state, exclusive, job = std::move(job)] {
      if (!exclusive) return RunJobWrapped(state, false, job);
      JobCount count(state);
      // Given back while job_lock is still held: a job that has let go of the lock
      // touches the state no more on its normal way out.
      RunJobWrapped(state, true, [&] {
        job();
        count.Release();
      });
    }).detach();
  } catch (const std::system_error& e) {
    if (exclusive) state.exclusive_jobs.fetch_sub(1);
    // No thread could be made (resources exhausted). The player must not be left
    // looking at a busy phase that nothing will ever end.
    Log("no se pudo iniciar un hilo: %s", e.what());
    if (exclusive)
      SetPhase(state, UpdatePhase::kFailed, "Error interno: no se pudo iniciar la tarea");
  }
}

void HandOverSettings(LauncherState& state, const JobSettings& settings) {
  std::lock_guard<std::mutex> guard(state.state_lock);
  state.pending = settings;
  state.pending_dirty = true;
}

void ApplyPendingSettings(LauncherState& state) {
  JobSettings copy;
  {
    std::lock_guard<std::mutex> guard(state.state_lock);
    if (!state.pending_dirty) return;
    copy = state.pending;
    state.pending_dirty = false;
  }
  const bool folder_changed = copy.install_dir != state.live.install_dir;
  const bool server_changed =
      copy.base_url != state.live.base_url || copy.manifest != state.live.manifest;
  {
    // The news job reads `live` concurrently under state_lock.
    std::lock_guard<std::mutex> guard(state.state_lock);
    state.live = std::move(copy);
  }
  if (folder_changed) state.cache.Reset();
  if (folder_changed || server_changed) {
    state.have_manifest = false;
    state.manifest_etag.clear();
    // The plan names another folder's files: run in this one, it would download into
    // it what the other lacked and delete what the other no longer lists.
    state.have_plan = false;
    state.to_download.clear();
    state.to_delete.clear();
    state.update_files.store(0);
    state.update_bytes.store(0);
  }
}

ProgressSnapshot TakeSnapshot(LauncherState& state) {
  ProgressSnapshot snapshot;
  snapshot.bytes_total = state.bytes_total.load();
  snapshot.bytes_done = state.bytes_done.load();
  snapshot.files_total = state.files_total.load();
  snapshot.files_done = state.files_done.load();
  int pick = -1;
  std::uint64_t pick_size = 0;
  for (int i = 0; i < kMaxWorkers; ++i) {
    std::uint64_t size = state.slots[i].file_size.load();
    if (size > pick_size) {
      pick = i;
      pick_size = size;
    }
  }
  if (pick < 0) return snapshot;
  WorkerSlot& slot = state.slots[pick];
  snapshot.file_size = pick_size;
  snapshot.file_done = std::min(pick_size, slot.file_done.load());
  std::lock_guard<std::mutex> guard(slot.lock);
  snapshot.file_path = slot.file_path;
  return snapshot;
}

std::vector<NewsItem> CopyNews(LauncherState& state) {
  std::lock_guard<std::mutex> guard(state.state_lock);
  return state.news;
}

}  // namespace brisal

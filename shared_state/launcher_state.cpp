#include "shared_state/launcher_state.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>

#include "core/log.h"

namespace brisal {

JobSettings MakeJobSettings(const LauncherConfig& config, const std::string& install_dir) {
  JobSettings settings;
  settings.base_url = config.base_url;
  settings.mirrors = config.mirrors;
  settings.manifest = config.manifest;
  settings.files_path = config.files_path;
  settings.news = config.news;
  settings.connections = config.connections;
  settings.install_dir = install_dir;
  settings.manifest_keys = config.manifest_keys;
  settings.config_unusable = config.unusable;
  settings.self_update = config.self_update;
  return settings;
}

bool IsBusyPhase(UpdatePhase phase) {
  return phase == UpdatePhase::kChecking || phase == UpdatePhase::kVerifying ||
         phase == UpdatePhase::kDownloading;
}

bool IsSettledPhase(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::kNotInstalled:
    case UpdatePhase::kUpdateAvailable:
    case UpdatePhase::kUpToDate:
    case UpdatePhase::kOffline:
    case UpdatePhase::kFailed:
      return true;
    default:
      return false;
  }
}

UpdatePhase CurrentPhase(const LauncherState& state) {
  return state.board.phase.load();
}

void SetPhase(LauncherState& state, UpdatePhase phase, const Message& message) {
  Board& board = state.board;
  bool changed;
  {
    MutexLock guard(board.lock);
    changed = phase != board.phase.load() || !(message == board.status);
    board.status = message;
    board.phase.store(phase);
  }
  if (IsSettledPhase(phase)) board.settled_phase.store(phase);
  if (changed && state.notify) state.notify();
}

void RecordServerAnswer(LauncherState& state, bool server_failed) {
  std::atomic<std::uint32_t>& failures = state.jobs.server_failures;
  const std::uint32_t before = server_failed ? failures.fetch_add(1) : failures.exchange(0);
  if ((server_failed || before != 0) && state.notify) state.notify();
}

std::string StatusText(LauncherState& state) {
  Message status;
  {
    MutexLock guard(state.board.lock);
    status = state.board.status;
  }
  return Sentence(status);
}

namespace {

void RunExclusive(LauncherState& state, const std::function<void()>& job) {
  MutexLock guard(state.plan.job_lock);
  state.jobs.cancel.store(false);
  ApplyPendingSettings(state);
  job();
}

}  // namespace

void RunJobWrapped(LauncherState& state, JobKind kind, const std::function<void()>& job) {
  const bool exclusive = kind == JobKind::kExclusive;
  try {
    if (exclusive) {
      RunExclusive(state, job);
    } else {
      job();
    }
  } catch (const std::exception& e) {
    Log("excepcion en hilo: %s", e.what());
    if (exclusive)
      SetPhase(state, UpdatePhase::kFailed, Message(MessageCode::kInternalError, e.what()));
  } catch (...) {
    Log("excepcion desconocida en hilo");
    if (exclusive) SetPhase(state, UpdatePhase::kFailed, Message(MessageCode::kInternalUnexpected));
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
    if (state_) state_->jobs.exclusive_jobs.fetch_sub(1);
    state_ = nullptr;
  }

 private:
  LauncherState* state_;
};

}  // namespace

void StartJob(LauncherState& state, JobKind kind, std::function<void()> job) {
  const bool exclusive = kind == JobKind::kExclusive;
  // Counted before the thread exists, so the window never sees a started job as absent.
  if (exclusive) state.jobs.exclusive_jobs.fetch_add(1);
  try {
    std::thread([&state, kind, job = std::move(job)] {
      if (kind == JobKind::kConcurrent) return RunJobWrapped(state, kind, job);
      JobCount count(state);
      // Given back while job_lock is still held: a job that has let go of the lock
      // touches the state no more on its normal way out.
      RunJobWrapped(state, kind, [&] {
        job();
        count.Release();
      });
    }).detach();
  } catch (const std::system_error& e) {
    if (exclusive) state.jobs.exclusive_jobs.fetch_sub(1);
    // No thread could be made (resources exhausted). The player must not be left
    // looking at a busy phase that nothing will ever end.
    Log("no se pudo iniciar un hilo: %s", e.what());
    if (exclusive) SetPhase(state, UpdatePhase::kFailed, Message(MessageCode::kCannotStartTask));
  }
}

void HandOverSettings(LauncherState& state, const JobSettings& settings) {
  MutexLock guard(state.handover.lock);
  state.handover.pending = settings;
  state.handover.pending_dirty = true;
}

JobSettings NewestSettings(LauncherState& state) {
  SettingsHandover& handover = state.handover;
  MutexLock guard(handover.lock);
  return handover.pending_dirty ? handover.pending : handover.current;
}

void ApplyPendingSettings(LauncherState& state) {
  JobSettings copy;
  {
    SettingsHandover& handover = state.handover;
    MutexLock guard(handover.lock);
    if (!handover.pending_dirty) return;
    copy = handover.pending;
    handover.current = copy;
    handover.pending_dirty = false;
  }
  const bool folder_changed = copy.install_dir != state.plan.live.install_dir;
  const bool server_changed = copy.base_url != state.plan.live.base_url ||
                              copy.manifest != state.plan.live.manifest ||
                              copy.manifest_keys != state.plan.live.manifest_keys ||
                              copy.config_unusable != state.plan.live.config_unusable;
  state.plan.live = std::move(copy);
  if (folder_changed) state.cache.Reset();
  if (folder_changed || server_changed) {
    state.plan.have_manifest = false;
    state.plan.manifest_etag.clear();
    // The plan names another folder's files: run in this one, it would download into
    // it what the other lacked and delete what the other no longer lists.
    state.plan.ready = false;
    state.plan.to_download.clear();
    state.plan.to_delete.clear();
    state.progress.update_files.store(0);
    state.progress.update_bytes.store(0);
  }
}

ProgressSnapshot TakeSnapshot(LauncherState& state) {
  Progress& progress = state.progress;
  ProgressSnapshot snapshot;
  snapshot.bytes_done = progress.bytes_done.load();
  // A server that ignores ranges sends more than was planned; the bar stays whole.
  snapshot.bytes_total = std::max(progress.bytes_total.load(), snapshot.bytes_done);
  snapshot.files_total = progress.files_total.load();
  snapshot.files_done = progress.files_done.load();
  int pick = -1;
  std::uint64_t pick_size = 0;
  for (int i = 0; i < kMaxWorkers; ++i) {
    std::uint64_t size = progress.slots[i].file_size.load();
    if (size > pick_size) {
      pick = i;
      pick_size = size;
    }
  }
  if (pick < 0) return snapshot;
  WorkerSlot& slot = progress.slots[pick];
  snapshot.file_size = pick_size;
  snapshot.file_done = std::min(pick_size, slot.file_done.load());
  MutexLock guard(slot.lock);
  snapshot.file_path = slot.file_path;
  return snapshot;
}

std::vector<NewsItem> CopyNews(LauncherState& state) {
  MutexLock guard(state.board.lock);
  return state.board.news;
}

void PublishNews(LauncherState& state, std::vector<NewsItem> news) {
  {
    MutexLock guard(state.board.lock);
    state.board.news = std::move(news);
  }
  if (state.notify) state.notify();
}

void PublishLauncherNotice(LauncherState& state, Message message, const std::string& version) {
  {
    MutexLock guard(state.board.lock);
    if (state.board.launcher_notice_version == version) return;
    state.board.launcher_notice_version = version;
    state.board.launcher_notice = std::move(message);
  }
  if (state.notify) state.notify();
}

Message TakeLauncherNotice(LauncherState& state) {
  MutexLock guard(state.board.lock);
  return std::exchange(state.board.launcher_notice, Message());
}

}  // namespace brisal

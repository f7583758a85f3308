// The one object shared by the window and every background job. It is made of a few
// owners, each with one lock (or none, for atomics) and one writer:
//
//   handover  the settings the window hands to the next exclusive job   handover.lock
//   board     what the window shows: phase, status message, news         board.lock
//   plan      what only exclusive jobs touch: the settings in use, the   plan.job_lock, held
//             manifest and its ETag, the lists to download and delete    for each job's run
//   cache     the file-state cache of the plan's folder                  its own lock
//   progress  counters and worker slots the window reads                 atomics, slot.lock
//   jobs      the cancel flag, the hold on downloads, the job count,     atomics; the limit
//             the download speed limit                                   has its own lock
//
// Jobs publish into it and wake the window through `notify`; the window pulls what it
// needs. Locks, outermost first: plan.job_lock; the cache's lock; board.lock or
// handover.lock (never both); a WorkerSlot's lock. Clang's -Wthread-safety checks
// every guarded member below.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "client_files/file_state_cache.h"
#include "client_files/manifest.h"
#include "config/launcher_config.h"
#include "core/messages.h"
#include "core/mutex.h"
#include "core/rate_limit.h"
#include "shared_state/news_item.h"

namespace brisal {

enum class UpdatePhase : std::uint32_t {
  kStarting = 0,
  kChecking = 1,
  kVerifying = 2,
  kNotInstalled = 3,
  kUpdateAvailable = 4,
  kDownloading = 5,
  kUpToDate = 6,
  kOffline = 7,
  kFailed = 8,
};

// Checking, verifying and downloading: the phases with live progress and a cancel.
bool IsBusyPhase(UpdatePhase phase);
// Not installed, update available, up to date, offline and failed: where a job ends.
bool IsSettledPhase(UpdatePhase phase);

struct JobSettings {
  std::string base_url;
  std::string manifest;
  std::string files_path;
  std::string news;
  std::int32_t connections = 3;
  std::string install_dir;   // the install folder in use
  std::vector<std::string> manifest_keys;  // config.json's; empty: manifests are not signed
  bool config_unusable = false;            // config.json could not be used: trust nothing
  std::vector<std::string> mirrors;        // further base URLs serving the same files
  bool self_update = true;                 // config.json's: look for a newer launcher
};

// The job settings the configuration and the install folder in use give.
JobSettings MakeJobSettings(const LauncherConfig& config, const std::string& install_dir);

// Written by the window, taken up by the next exclusive job (ApplyPendingSettings).
struct SettingsHandover {
  Mutex lock;
  JobSettings pending GUARDED_BY(lock);
  bool pending_dirty GUARDED_BY(lock) = false;
  // What the last exclusive job took up: the news job, which runs beside the
  // exclusive ones, reads it here rather than in the plan.
  JobSettings current GUARDED_BY(lock);
};

// What the window shows. Jobs write it through SetPhase and the news job; the window
// and brisal-cli read it.
struct Board {
  // Stored under `lock` with the message, so that a reader holding the lock never
  // sees them disagree; a reader of the phase alone needs no lock. Sequentially
  // consistent, as the window pairs it with the progress counters.
  std::atomic<UpdatePhase> phase{UpdatePhase::kStarting};
  // The last settled phase; a cancelled check returns to it.
  std::atomic<UpdatePhase> settled_phase{UpdatePhase::kStarting};
  Mutex lock;
  Message status GUARDED_BY(lock);
  std::vector<NewsItem> news GUARDED_BY(lock);  // at most 8
  // What the launcher's own update has to tell the player, waiting for the window to
  // show it once as its notice; and the version it was about, so that each re-check
  // does not say it again.
  Message launcher_notice GUARDED_BY(lock);
  std::string launcher_notice_version GUARDED_BY(lock);
};

// What exclusive jobs alone touch, one job at a time: they hold `job_lock` for their
// whole run (RunJobWrapped takes it).
struct Plan {
  Mutex job_lock;
  // The settings taken up by ApplyPendingSettings.
  JobSettings live GUARDED_BY(job_lock);
  Manifest manifest GUARDED_BY(job_lock);
  bool have_manifest GUARDED_BY(job_lock) = false;
  std::string manifest_etag GUARDED_BY(job_lock);
  std::string manifest_sha256 GUARDED_BY(job_lock);  // of its exact bytes, in hex
  std::vector<ManifestEntry> to_download GUARDED_BY(job_lock);
  std::vector<std::string> to_delete GUARDED_BY(job_lock);
  // The lists above were made for the live install folder and server. A change of
  // either discards them; the update never carries out a plan made for another.
  bool ready GUARDED_BY(job_lock) = false;
};

struct WorkerSlot {
  std::atomic<std::uint64_t> file_size{0};  // manifest size of the worker's current file
  std::atomic<std::uint64_t> file_done{0};  // bytes of it present so far
  Mutex lock;
  std::string file_path GUARDED_BY(lock);  // manifest path of the current file
};

inline constexpr int kMaxWorkers = 8;

// Written by the running job and its workers, read by the window at any moment. Each
// counter is read on its own, so the window may see a byte count a moment ahead of
// the file count: it only draws them.
struct Progress {
  // What the update fetches and has fetched; a partial file's bytes count as done
  // when its download resumes, chunks copied from the files' old versions in neither.
  std::atomic<std::uint64_t> bytes_total{0};
  std::atomic<std::uint64_t> bytes_done{0};
  // What the old versions of the files spare the download.
  std::atomic<std::uint64_t> bytes_spared{0};
  std::atomic<std::uint32_t> files_total{0};
  std::atomic<std::uint32_t> files_done{0};
  // What the last check found to fetch: the status line of phases 3 and 4.
  std::atomic<std::uint32_t> update_files{0};
  std::atomic<std::uint64_t> update_bytes{0};
  std::array<WorkerSlot, kMaxWorkers> slots;
};

// Flags that ask jobs to stop or hold; they guard no data, so relaxed order would do,
// and the default order costs nothing that matters here.
struct JobControl {
  // Set by the window (close, CANCELAR) and the CLI (Ctrl-C); cleared when an
  // exclusive job starts and after a cancelled update.
  std::atomic<bool> cancel{false};
  // Set when the player cancels a download: until the window clears it because the
  // player asked for an update again, neither an update already queued nor an
  // auto_update check starts downloading.
  std::atomic<bool> downloads_held{false};
  // Exclusive jobs started through StartJob and not ended yet, waiting or running. The
  // re-check timer starts nothing while one is pending, so its ticks never queue
  // threads behind a slow job.
  std::atomic<int> exclusive_jobs{0};
  // The pause before a file's second attempt (twice as long before the third). Set
  // once before any job runs; tests that fail hundreds of attempts on purpose shorten
  // it.
  std::chrono::milliseconds retry_pause{700};
  // The player's download speed limit, shared by every worker of an update. The
  // window and brisal-cli set its rate at any moment; a running download takes the
  // new rate up within a fraction of a second.
  RateLimiter download_limit;
  // Checks in a row whose manifest request found the server failing; any other
  // answer sets it back to 0. The window stretches its re-check period by it, so a
  // server under stress is not polled at full rate by every launcher.
  std::atomic<std::uint32_t> server_failures{0};
};

struct LauncherState {
  // The state-changed notifier: set once by the window (or a test, or the CLI) before
  // the first job starts, read-only afterwards. Posts a message; never blocks.
  std::function<void()> notify;

  SettingsHandover handover;
  Board board;
  Plan plan;
  FileStateCache cache;
  Progress progress;
  JobControl jobs;
};

UpdatePhase CurrentPhase(const LauncherState& state);

// Publishes a phase with its status message; calls `notify` when either changed.
void SetPhase(LauncherState& state, UpdatePhase phase, const Message& message = {});

// Counts a check's manifest request in `jobs.server_failures`: `server_failed` when
// the server could not be reached, refused the connection, broke off the answer or
// answered 5xx or 429. Calls `notify` when the count changed, since a quiet check
// often changes nothing else the window would see.
void RecordServerAnswer(LauncherState& state, bool server_failed);

// The sentence of the status message.
std::string StatusText(LauncherState& state);

enum class JobKind : std::uint8_t {
  kConcurrent,  // the news: runs beside anything
  kExclusive,   // checks and updates: one at a time, under plan.job_lock
};

// Starts `job` on a new detached thread. An exclusive job is counted in
// `jobs.exclusive_jobs` until it ends; it takes plan.job_lock, clears `cancel` and takes
// up pending settings first. An exception escaping the job is logged and, for an
// exclusive job, shown as the failed phase.
void StartJob(LauncherState& state, JobKind kind, std::function<void()> job);

// The body StartJob runs on its thread; public so the CLI can run a job on its own
// thread with the very same rules.
void RunJobWrapped(LauncherState& state, JobKind kind, const std::function<void()>& job);

// The window's hand-over of settings to the next exclusive job.
void HandOverSettings(LauncherState& state, const JobSettings& settings);

// Takes up the settings handed over since the last job; a change of folder or server
// discards the plan.
void ApplyPendingSettings(LauncherState& state) REQUIRES(state.plan.job_lock);

struct ProgressSnapshot {
  std::uint64_t bytes_total = 0;
  std::uint64_t bytes_done = 0;
  std::uint32_t files_total = 0;
  std::uint32_t files_done = 0;
  std::uint64_t file_size = 0;
  std::uint64_t file_done = 0;
  std::string file_path;
};

ProgressSnapshot TakeSnapshot(LauncherState& state);

std::vector<NewsItem> CopyNews(LauncherState& state);
void PublishNews(LauncherState& state, std::vector<NewsItem> news);

// The launcher's own update tells the player `message` about `version`, once per
// version for the process; calls `notify` when it is new.
void PublishLauncherNotice(LauncherState& state, Message message, const std::string& version);
// The notice waiting to be shown, emptied; empty when none.
Message TakeLauncherNotice(LauncherState& state);

// The settings the news job should use: a hand-over not yet taken up by an exclusive
// job is the newer wish.
JobSettings NewestSettings(LauncherState& state);

}  // namespace brisal

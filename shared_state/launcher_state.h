// The one object shared by the window and every background job: the settings jobs
// work with, the phase and its status text, progress counters, per-worker file
// progress, the news, the last manifest and the update plan, the file-state cache
// and the cancel flag. Jobs publish into it and wake the window through `notify`;
// the window pulls what it needs.
//
// Locks, outermost first: job_lock; the FileStateCache lock (may be held while
// state_lock is taken, never the reverse); state_lock; each WorkerSlot::lock; the
// update job's error lock. Everything atomic is read without a lock.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "client_files/file_state_cache.h"
#include "client_files/manifest.h"
#include "config/launcher_config.h"
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

struct JobSettings {
  std::string base_url;
  std::string manifest;
  std::string files_path;
  std::string news;
  std::int32_t connections = 3;
  std::string install_dir;   // the install folder in use
  std::string manifest_key;  // config.json's text; empty: manifests are not signed
};

// The job settings the configuration and the install folder in use give.
JobSettings MakeJobSettings(const LauncherConfig& config, const std::string& install_dir);

struct WorkerSlot {
  std::atomic<std::uint64_t> file_size{0};  // manifest size of the worker's current file
  std::atomic<std::uint64_t> file_done{0};  // bytes of it present so far
  std::mutex lock;                          // guards file_path
  std::string file_path;                    // manifest path of the current file
};

struct ProgressSnapshot {
  std::uint64_t bytes_total = 0;
  std::uint64_t bytes_done = 0;
  std::uint32_t files_total = 0;
  std::uint32_t files_done = 0;
  std::uint64_t file_size = 0;
  std::uint64_t file_done = 0;
  std::string file_path;
};

inline constexpr int kMaxWorkers = 8;

struct LauncherState {
  // Written only by ApplyPendingSettings on an exclusive job thread (under state_lock
  // too, for the news job); exclusive jobs and their workers read it without a lock.
  JobSettings live;

  // REQUIRES state_lock.
  JobSettings pending;
  bool pending_dirty = false;

  // The state-changed notifier: set once by the window (or a test, or the CLI) before
  // the first job starts, read-only afterwards. Posts a message; never blocks.
  std::function<void()> notify;

  // Written only through SetPhase.
  std::atomic<std::uint32_t> phase{0};
  // The last settled phase (3, 4, 6, 7, 8); a cancelled check returns to it. Atomic
  // because the window and the CLI read it while jobs write it.
  std::atomic<std::uint32_t> settled_phase{0};

  std::mutex state_lock;
  std::string status_text;     // REQUIRES state_lock
  std::vector<NewsItem> news;  // REQUIRES state_lock, at most 8

  std::mutex job_lock;  // held for the whole run of every exclusive job
  // Exclusive jobs started through StartJob and not ended yet, waiting or running. The
  // re-check timer starts nothing while one is pending, so its ticks never queue
  // threads behind a slow job.
  std::atomic<int> exclusive_jobs{0};
  // Set when the player cancels a download: until the window clears it because the
  // player asked for an update again, neither an update job already queued nor an
  // auto_update check starts downloading.
  std::atomic<bool> downloads_held{false};

  // Set by the window (close, CANCELAR) and the CLI (Ctrl-C); cleared when an
  // exclusive job starts and after a cancelled update. Relaxed order is enough: it
  // guards no data, it only asks loops to stop.
  std::atomic<bool> cancel{false};

  // The update job's pause before a file's second attempt (twice as long before the
  // third). Set once before any job runs; tests that fail hundreds of attempts on
  // purpose shorten it.
  std::chrono::milliseconds retry_pause{700};

  // Touched only by exclusive jobs, which never overlap (job_lock).
  Manifest last_manifest;
  bool have_manifest = false;
  std::string manifest_etag;
  std::vector<ManifestEntry> to_download;
  std::vector<std::string> to_delete;
  // The plan above was made for the live install folder and server. A change of
  // either discards it; the update job never carries out a plan made for another.
  bool have_plan = false;

  std::atomic<std::uint32_t> update_files{0};
  std::atomic<std::uint64_t> update_bytes{0};

  FileStateCache cache;

  std::atomic<std::uint64_t> bytes_total{0};
  std::atomic<std::uint64_t> bytes_done{0};
  std::atomic<std::uint32_t> files_total{0};
  std::atomic<std::uint32_t> files_done{0};

  std::array<WorkerSlot, kMaxWorkers> slots;
};

UpdatePhase CurrentPhase(const LauncherState& state);

// Publishes a phase with its status text; calls `notify` when either changed.
void SetPhase(LauncherState& state, UpdatePhase phase, const std::string& text);

// The status text, copied under state_lock.
std::string StatusText(LauncherState& state);

// Starts `job` on a new detached thread. An exclusive job is counted in
// `exclusive_jobs` until it ends; it takes job_lock, clears `cancel` and takes up
// pending settings first. An exception escaping the job is
// logged and, for an exclusive job, shown as phase 8.
void StartJob(LauncherState& state, bool exclusive, std::function<void()> job);

// The body StartJob runs on its thread; public so the CLI can run a job on its own
// thread with the very same rules.
void RunJobWrapped(LauncherState& state, bool exclusive, const std::function<void()>& job);

// The window's hand-over of settings to the next exclusive job.
void HandOverSettings(LauncherState& state, const JobSettings& settings);

// REQUIRES: called on an exclusive job's thread with job_lock held.
void ApplyPendingSettings(LauncherState& state);

ProgressSnapshot TakeSnapshot(LauncherState& state);

std::vector<NewsItem> CopyNews(LauncherState& state);

}  // namespace brisal

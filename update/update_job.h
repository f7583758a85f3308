// The update job: carries out the plan of the last check with up to eight download
// workers, three attempts per file, then deletes obsolete files, records the
// revision and reports the client up to date. Runs as an exclusive job.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "client_files/manifest.h"

namespace brisal {

class HttpClient;
struct LauncherState;
struct WorkerSlot;

class FolderLock;

void RunUpdateJob(LauncherState& state);
// The same, for a check that chains into the update holding the folder's lock.
void RunUpdateJob(LauncherState& state, FolderLock& lock);

// What the workers of one job share.
struct UpdateJobData {
  UpdateJobData(LauncherState& job_state, std::vector<ManifestEntry> entries)
      : state(job_state), work(std::move(entries)) {}

  LauncherState& state;
  std::vector<ManifestEntry> work;  // largest first; read-only while workers run
  std::atomic<std::uint64_t> next_index{0};
  // Read without the lock; written under error_lock together with first_error.
  std::atomic<bool> failed{false};
  std::mutex error_lock;
  std::string first_error;  // REQUIRES error_lock
};

void DownloadWorker(int index, UpdateJobData& job);

// Up to three attempts with 0.7 s and 1.4 s pauses; logs every failed attempt.
bool DownloadWithRetries(LauncherState& state, HttpClient& client, const ManifestEntry& entry,
                         WorkerSlot& slot, std::string& error);

}  // namespace brisal

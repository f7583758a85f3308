// The download of one manifest entry into the install folder, as a pipeline: open or
// resume "<target>.bpart" (a partial file left by anything earlier is resumed with a
// Range request), fill it from the server, verify its size and SHA-256 against the
// manifest, seal it on disk, place it over the target, record it in the file-state
// cache. Each stage ends the attempt with its reason, or hands on to the next.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "client_files/manifest.h"
#include "core/messages.h"

namespace brisal {

class DownloadSources;
struct ReusePlan;
class FileStateCache;
class HttpClient;
class RateLimiter;
class SourceClients;
struct JobSettings;
struct Progress;
struct WorkerSlot;

// What a download needs of the job it belongs to. Workers share it read-only; the
// job outlives them.
struct DownloadContext {
  const JobSettings& settings;  // install_dir and files_path
  FileStateCache& cache;
  Progress& progress;
  const std::atomic<bool>& cancel;
  DownloadSources& sources;
  // The pause before a file's second attempt, twice as long before the third, each
  // scattered over half to one and a half of that.
  std::chrono::milliseconds retry_pause;
  // The player's speed limit, shared by every worker of the update.
  RateLimiter& limit;
};

// "/"-separated, relative to the install folder: everything below it is changed
// through InstallTree, which never follows a link.
struct EntryPaths {
  std::string target;
  std::string partial;
};

EntryPaths PathsForEntry(const ManifestEntry& entry);

// One attempt. True when the target now holds the verified file. False with `error`
// empty means the cancel flag stopped the attempt. Every byte added to bytes_done is
// also added to `attempt_bytes`, so the caller can take a failed attempt back exactly.
// With a non-empty `plan` the file is built from the old file's chunks and ranged
// requests, and bytes_done counts only what is fetched.
bool DownloadFile(const DownloadContext& context, HttpClient& client, const ManifestEntry& entry,
                  const EntryPaths& paths, WorkerSlot& slot, std::uint64_t& attempt_bytes,
                  Message& error, const ReusePlan* plan = nullptr);

// Up to three attempts with jittered, growing pauses between them (or what the
// server's Retry-After asks, up to 10 minutes); logs every failed attempt with its
// source. A failure of the server, the connection or the bytes moves the file on to
// the next source in service at once, without spending an attempt; an attempt is spent
// when no source is left to try. Shows the file in `slot` and makes its folders first.
// A `plan` is followed until an attempt fails on the file's bytes; from then on the
// file is fetched whole. False with `error` empty on a cancel.
bool DownloadWithRetries(const DownloadContext& context, SourceClients& clients,
                         const ManifestEntry& entry, WorkerSlot& slot, Message& error,
                         const ReusePlan* plan = nullptr);

}  // namespace brisal

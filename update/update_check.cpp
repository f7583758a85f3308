#include "update/update_check.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "client_files/manifest.h"
#include "client_files/sha256.h"
#include "core/files.h"
#include "core/install_tree.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "net/http_client.h"
#include "shared_state/launcher_state.h"
#include "update/update_job.h"

namespace brisal {

namespace {

const char* const kBadBaseUrl = "La dirección del servidor no es válida (base_url en config.json)";

void ReturnToSettled(LauncherState& state, bool quiet) {
  if (!quiet) SetPhase(state, static_cast<UpdatePhase>(state.settled_phase.load()), "");
}

// The comparison's outcome, published only when the whole pass completes.
struct Comparison {
  std::vector<ManifestEntry> download;
  std::vector<std::string> remove;
  std::uint64_t bytes = 0;
  std::uint32_t intact = 0;
  bool rehashed = false;
};

// Compares every manifest entry with the install folder. False when cancelled.
bool CompareWithFolder(LauncherState& state, bool verify_all, bool quiet, Comparison& out) {
  const Manifest& manifest = state.last_manifest;
  const std::string& install_dir = state.live.install_dir;
  FileStateCache& cache = state.cache;
  const auto count = static_cast<std::uint32_t>(manifest.files.size());
  state.files_total.store(count);
  // One file, one entry: a path listed twice (or, where letter case makes no
  // difference to the file system, in two letter cases) is compared and queued once,
  // as the manifest lists it first. Two workers on one partial file would cut each
  // other's bytes.
  std::unordered_set<std::string> seen;
  seen.reserve(manifest.files.size());

  for (std::uint32_t i = 0; i < count; ++i) {
    const ManifestEntry& entry = manifest.files[i];
    if (state.cancel.load()) {
      ReturnToSettled(state, quiet);
      return false;
    }
    state.files_done.store(i);
    if (!seen.insert(FileNameKey(entry.path)).second) continue;
    const std::string local = JoinPath(install_dir, ManifestPathToNative(entry.path));
    FileInfo info;
    bool intact = false;
    if (GetFileInfo(local, info) && info.is_regular && info.size == entry.size) {
      std::lock_guard<std::mutex> guard(cache.lock());
      auto known = cache.LookupLocked(entry.path);
      if (!verify_all && known && known->size == info.size && known->mtime == info.mtime) {
        intact = known->sha256 == entry.sha256;
      } else {
        std::string hex;
        if (HashFile(local, hex, &state.cancel)) {
          intact = hex == entry.sha256;
          cache.StoreLocked(entry.path, FileState{info.size, info.mtime, hex});
          out.rehashed = true;
        } else if (state.cancel.load()) {
          ReturnToSettled(state, quiet);  // cache lock, then state lock: the allowed order
          return false;
        }
      }
    }
    if (intact) {
      ++out.intact;
    } else {
      out.download.push_back(entry);
      out.bytes += entry.size;
    }
  }
  state.files_done.store(count);

  // Only files the launcher itself recorded are ever deleted. A recorded path that
  // the manifest still lists in another letter case (any letter: Ñandú and ñandú)
  // names the same file on case-insensitive file systems, so it is never put up for
  // deletion. Views into the manifest avoid copying 100,000 paths; folding is only
  // paid for unlisted keys.
  std::unordered_set<std::string_view> listed;
  listed.reserve(manifest.files.size());
  for (const ManifestEntry& entry : manifest.files)
    listed.insert(entry.path);
  std::vector<std::string> unlisted;
  {
    std::lock_guard<std::mutex> guard(cache.lock());
    cache.ForEachPathLocked([&](const std::string& path) {
      if (listed.count(path) == 0) unlisted.push_back(path);
    });
  }
  if (!unlisted.empty()) {
    std::unordered_set<std::string> listed_folded;
    listed_folded.reserve(manifest.files.size());
    for (const ManifestEntry& entry : manifest.files)
      listed_folded.insert(FoldCase(entry.path));
    for (std::string& path : unlisted) {
      if (listed_folded.count(FoldCase(path)) == 0) out.remove.push_back(std::move(path));
    }
  }
  return true;
}

}  // namespace

bool LockInstallFolder(LauncherState& state, FolderLock& lock, bool quiet) {
  if (lock.Acquire(state.live.install_dir) != FolderLock::Result::kBusy) return true;
  Log("carpeta ocupada por otro proceso del launcher: %s", state.live.install_dir.c_str());
  if (!quiet) SetPhase(state, UpdatePhase::kFailed, kFolderBusy);
  return false;
}

void RunUpdateCheck(LauncherState& state, bool verify_all, bool quiet, bool auto_update) {
  FolderLock lock;
  RunUpdateCheck(state, lock, verify_all, quiet, auto_update);
}

void RunUpdateCheck(LauncherState& state, FolderLock& lock, bool verify_all, bool quiet,
                    bool auto_update) {
  const auto start_phase = static_cast<UpdatePhase>(state.phase.load());
  if (!quiet) {
    SetPhase(state, verify_all ? UpdatePhase::kVerifying : UpdatePhase::kChecking, "");
  }
  // A folder not made yet holds nothing to guard; the update job takes the lock once
  // it has made it.
  if (!lock.held() && IsDirectory(state.live.install_dir) &&
      !LockInstallFolder(state, lock, quiet)) {
    return;
  }
  state.files_total.store(0);
  state.files_done.store(0);

  state.cache.Load(state.live.install_dir);
  const bool installed_before = state.cache.Count() > 0;

  HttpClient client;
  const bool opened = client.Open(state.live.base_url);
  HttpLimits limits;
  limits.deadline = kManifestDeadline;
  client.SetLimits(limits);
  HttpResult result;
  std::string body;
  if (opened) {
    std::string headers = "Cache-Control: no-cache\r\n";
    if (state.have_manifest && !verify_all && !state.manifest_etag.empty()) {
      headers += "If-None-Match: " + state.manifest_etag + "\r\n";
    }
    result = client.Get(
        state.live.manifest, headers, nullptr,
        [&body](const char* data, std::uint32_t length) {
          body.append(data, length);
          return body.size() < kManifestBodyCap;
        },
        &state.cancel);
  }

  if (state.cancel.load()) {
    ReturnToSettled(state, quiet);
    return;
  }

  const bool fresh = opened && result.status == 200 && result.error == 0;
  const bool not_modified = opened && result.status == 304 && state.have_manifest;
  if (not_modified && quiet) return;

  if (!fresh && !not_modified) {
    std::string message;
    if (!opened) {
      message = kBadBaseUrl;
    } else if (result.status == 0 || result.status == 200) {
      message = HttpErrorText(result.error);
    } else {
      message = "El servidor respondió HTTP " + std::to_string(result.status) + " al pedir " +
                SafeText(state.live.manifest);
    }
    Log("manifiesto: %s", message.c_str());
    if (installed_before) {
      if (!(quiet && start_phase != UpdatePhase::kUpToDate &&
            start_phase != UpdatePhase::kOffline)) {
        SetPhase(state, UpdatePhase::kOffline, "Modo sin conexión · " + message);
      }
    } else if (!quiet) {
      SetPhase(state, UpdatePhase::kFailed, message);
    }
    return;
  }

  if (fresh) {
    Manifest parsed;
    std::string error;
    if (!ParseManifest(body, parsed, error)) {
      Log("manifiesto invalido: %s", error.c_str());
      if (!(quiet && start_phase != UpdatePhase::kStarting)) {
        SetPhase(state, UpdatePhase::kFailed, error);
      }
      return;
    }
    state.last_manifest = std::move(parsed);
    state.manifest_etag = result.etag;
    state.have_manifest = true;
  }
  body.clear();
  body.shrink_to_fit();

  Comparison comparison;
  if (!CompareWithFolder(state, verify_all, quiet, comparison)) return;

  state.update_files.store(static_cast<std::uint32_t>(comparison.download.size()));
  state.update_bytes.store(comparison.bytes);
  const std::size_t download_count = comparison.download.size();
  const std::size_t delete_count = comparison.remove.size();
  state.to_download = std::move(comparison.download);
  state.to_delete = std::move(comparison.remove);
  state.have_plan = true;

  if (comparison.rehashed) state.cache.Save(state.live.install_dir);

  UpdatePhase phase;
  if (comparison.intact == 0) {
    phase = UpdatePhase::kNotInstalled;
  } else if (download_count == 0 && delete_count == 0) {
    phase = UpdatePhase::kUpToDate;
    state.bytes_total.store(0);
    state.bytes_done.store(0);
  } else {
    phase = UpdatePhase::kUpdateAvailable;
  }
  Log("comprobacion: %u archivos en el manifiesto, %zu por descargar (%llu bytes), %zu por "
      "borrar -> fase %d",
      static_cast<unsigned>(state.last_manifest.files.size()), download_count,
      static_cast<unsigned long long>(state.update_bytes.load()), delete_count,
      static_cast<int>(phase));
  SetPhase(state, phase, "");

  if (auto_update &&
      (phase == UpdatePhase::kNotInstalled || phase == UpdatePhase::kUpdateAvailable) &&
      !state.cancel.load()) {
    RunUpdateJob(state, lock);
  }
}

}  // namespace brisal

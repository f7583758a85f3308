#include "update/update_check.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
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
#include "update/manifest_trust.h"
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

// A file whose content must be read before it can be judged, with the attributes it
// had when it was looked at (those go into the cache with its hash). Its local path
// is made again when it is hashed: a verification of 100,000 files would otherwise
// hold 100,000 of them.
struct PendingHash {
  std::uint32_t index = 0;
  FileInfo info;
};

// A set of views into strings that outlive it, sized once for all it will hold, with
// open addressing: a re-check of 100,000 files would otherwise pay 100,000 node
// allocations per set for bookkeeping alone.
class ViewSet {
 public:
  explicit ViewSet(std::size_t most) {
    std::size_t slots = 16;
    while (slots < most * 2)
      slots *= 2;
    slots_.resize(slots);
  }
  // False when `text` was in the set already. `text` views a std::string, whose data
  // is never null: a free slot is a view without data.
  bool Insert(std::string_view text) {
    const std::size_t i = Find(text);
    if (slots_[i].data() != nullptr) return false;
    slots_[i] = text;
    return true;
  }
  bool Contains(std::string_view text) const { return slots_[Find(text)].data() != nullptr; }

 private:
  // The slot holding `text`, else the free one where it belongs.
  std::size_t Find(std::string_view text) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = std::hash<std::string_view>()(text) & mask;
    while (slots_[i].data() != nullptr && slots_[i] != text)
      i = (i + 1) & mask;
    return i;
  }

  std::vector<std::string_view> slots_;
};

// Hashing runs on this many threads at most: past eight, a disk rather than the cores
// sets the pace, and every thread holds one read block.
constexpr unsigned kMaxHashThreads = 8;

unsigned HashThreadCount(std::size_t files) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<unsigned>(
      std::min<std::size_t>({cores, kMaxHashThreads, std::max<std::size_t>(files, 1)}));
}

// Hashes the pending files on several threads, largest first so that no big file is
// left alone at the end. Verdicts land at each file's manifest index; each lookup was
// made and each store is made under the cache lock on its own, never across a read,
// so the lock is held for microseconds. False when a cancel stopped the hashing.
bool HashPending(LauncherState& state, std::vector<PendingHash>& pending,
                 std::vector<unsigned char>& verdict, bool& rehashed) {
  if (pending.empty()) return true;
  std::stable_sort(pending.begin(), pending.end(), [](const PendingHash& a, const PendingHash& b) {
    return a.info.size > b.info.size;
  });
  const std::vector<ManifestEntry>& files = state.last_manifest.files;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> cancelled{false};
  std::atomic<bool> stored{false};
  auto hash_files = [&] {
    while (true) {
      if (state.cancel.load()) {
        cancelled.store(true);
        return;
      }
      const std::size_t k = next.fetch_add(1);
      if (k >= pending.size()) return;
      const PendingHash& file = pending[k];
      const ManifestEntry& entry = files[file.index];
      // No handler sits above a hashing thread; a file that could not be judged for
      // want of memory is simply fetched again.
      try {
        std::string hex;
        const std::string local =
            JoinPath(state.live.install_dir, ManifestPathToNative(entry.path));
        if (HashFile(local, hex, &state.cancel)) {
          verdict[file.index] = hex == entry.sha256 ? 1 : 0;
          state.cache.Store(entry.path, FileState{file.info.size, file.info.mtime, hex});
          stored.store(true);
        } else if (state.cancel.load()) {
          cancelled.store(true);
          return;
        }
      } catch (const std::exception&) {
        verdict[file.index] = 0;
      }
      state.files_done.fetch_add(1);
    }
  };

  const unsigned count = HashThreadCount(pending.size());
  std::vector<std::thread> helpers;
  helpers.reserve(count - 1);
  for (unsigned i = 1; i < count; ++i) {
    try {
      helpers.emplace_back(hash_files);
    } catch (const std::system_error&) {
      break;  // out of threads: the ones running share the rest
    }
  }
  hash_files();
  for (std::thread& helper : helpers)
    helper.join();
  if (stored.load()) rehashed = true;
  return !cancelled.load();
}

// Compares every manifest entry with the install folder. False when cancelled.
// Attributes are read and the cache consulted in manifest order; the files that need
// reading are then hashed together (HashPending). "files_done" counts judged files.
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
  const bool keys_are_paths = FileNameKeysAreNames();
  std::vector<std::string> keys;  // reserved whole: `seen` views into them
  if (!keys_are_paths) keys.reserve(count);
  ViewSet seen(count);
  FolderFileInfo folder(install_dir);
  // 0 not intact, 1 intact, 2 a repeated path (neither counted nor queued).
  std::vector<unsigned char> verdict(count, 0);
  std::vector<PendingHash> pending;

  for (std::uint32_t i = 0; i < count; ++i) {
    const ManifestEntry& entry = manifest.files[i];
    if (state.cancel.load()) {
      ReturnToSettled(state, quiet);
      return false;
    }
    state.files_done.store(i - static_cast<std::uint32_t>(pending.size()));
    if (!keys_are_paths) keys.push_back(FileNameKey(entry.path));
    if (!seen.Insert(keys_are_paths ? entry.path : keys.back())) {
      verdict[i] = 2;
      continue;
    }
    PendingHash file{i, {}};
    if (!folder.Get(entry.path, file.info) || !file.info.is_regular ||
        file.info.size != entry.size) {
      continue;
    }
    auto known = verify_all ? std::nullopt
                            : cache.RecordedHashIs(entry.path, file.info.size,
                                                   file.info.mtime, entry.sha256);
    if (known) {
      verdict[i] = *known ? 1 : 0;
    } else {
      pending.push_back(std::move(file));
    }
  }
  state.files_done.store(count - static_cast<std::uint32_t>(pending.size()));
  if (!HashPending(state, pending, verdict, out.rehashed)) {
    ReturnToSettled(state, quiet);
    return false;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    if (verdict[i] == 1) {
      ++out.intact;
    } else if (verdict[i] == 0) {
      out.download.push_back(manifest.files[i]);
      out.bytes += manifest.files[i].size;
    }
  }
  state.files_done.store(count);

  // Only files the launcher itself recorded are ever deleted. A recorded path that
  // the manifest still lists in another letter case (any letter: Ñandú and ñandú)
  // names the same file on case-insensitive file systems, so it is never put up for
  // deletion. Views into the manifest avoid copying 100,000 paths; folding is only
  // paid for unlisted keys.
  // Where keys are the paths themselves, `seen` already holds every listed path.
  std::optional<ViewSet> listed_paths;
  if (!keys_are_paths) {
    listed_paths.emplace(count);
    for (const ManifestEntry& entry : manifest.files)
      listed_paths->Insert(entry.path);
  }
  const ViewSet& listed = keys_are_paths ? seen : *listed_paths;
  std::vector<std::string> unlisted;
  {
    std::lock_guard<std::mutex> guard(cache.lock());
    cache.ForEachPathLocked([&](const std::string& path) {
      if (!listed.Contains(path)) unlisted.push_back(path);
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

  // A manifest the operator did not sign is refused like a malformed one: nothing is
  // downloaded or deleted, and the installed client stays playable.
  const bool signed_only = !state.live.manifest_key.empty();
  auto refuse = [&](const char* what, const std::string& error) {
    Log("%s: %s", what, error.c_str());
    if (!(quiet && start_phase != UpdatePhase::kStarting)) {
      SetPhase(state, UpdatePhase::kFailed, error);
    }
  };
  if (fresh) {
    Manifest parsed;
    std::string error;
    if (signed_only &&
        !VerifyManifestSignature(client, state.live.manifest, state.live.manifest_key, body,
                                 state.cancel, error)) {
      if (error.empty()) {
        ReturnToSettled(state, quiet);  // cancelled while fetching the signature
      } else {
        refuse("manifiesto rechazado", error);
      }
      return;
    }
    if (Message fault; !ParseManifest(body, parsed, fault)) {
      refuse("manifiesto invalido", Sentence(fault));
      return;
    }
    if (signed_only && !CheckManifestGuards(parsed, state.cache.Serial(), UnixTimeNow(), error)) {
      refuse("manifiesto rechazado", error);
      return;
    }
    state.last_manifest = std::move(parsed);
    state.manifest_etag = result.etag;
    state.have_manifest = true;
  } else if (std::string error;
             signed_only && !CheckManifestGuards(state.last_manifest, state.cache.Serial(),
                                                 UnixTimeNow(), error)) {
    // The manifest kept for a 304 has expired since: forgotten, so that the next check
    // fetches it whole.
    state.have_manifest = false;
    state.manifest_etag.clear();
    refuse("manifiesto rechazado", error);
    return;
  }
  body.clear();
  body.shrink_to_fit();

  Comparison comparison;
  if (!CompareWithFolder(state, verify_all, quiet, comparison)) return;
  const bool serial_raised =
      signed_only && state.cache.RaiseSerial(state.last_manifest.serial.value_or(0));

  state.update_files.store(static_cast<std::uint32_t>(comparison.download.size()));
  state.update_bytes.store(comparison.bytes);
  const std::size_t download_count = comparison.download.size();
  const std::size_t delete_count = comparison.remove.size();
  state.to_download = std::move(comparison.download);
  state.to_delete = std::move(comparison.remove);
  state.have_plan = true;

  if (comparison.rehashed || serial_raised) state.cache.Save(state.live.install_dir);

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

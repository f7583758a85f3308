#include "update/folder_comparison.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "client_files/file_state_cache.h"
#include "client_files/sha256.h"
#include "core/files.h"
#include "core/paths.h"
#include "core/text.h"
#include "shared_state/launcher_state.h"

namespace brisal {

namespace {

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

// A file whose content must be read before it can be judged, with the attributes it
// had when it was looked at (those go into the cache with its hash). Its local path
// is made again when it is hashed: a verification of 100,000 files would otherwise
// hold 100,000 of them.
struct PendingHash {
  std::uint32_t index = 0;
  FileInfo info;
};

enum Verdict : unsigned char { kNotIntact = 0, kIntact = 1, kRepeated = 2 };

// Hashing runs on this many threads at most: past eight, a disk rather than the cores
// sets the pace, and every thread holds one read block.
constexpr unsigned kMaxHashThreads = 8;

unsigned HashThreadCount(std::size_t files) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<unsigned>(
      std::min<std::size_t>({cores, kMaxHashThreads, std::max<std::size_t>(files, 1)}));
}

// Runs `work` on up to `count` threads, the calling one included; the helpers are
// joined when the group goes, whatever way this returns.
void RunOnThreads(unsigned count, const std::function<void()>& work) {
  std::vector<std::jthread> helpers;
  helpers.reserve(count - 1);
  for (unsigned i = 1; i < count; ++i) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // out of threads: the ones running share the rest
    }
  }
  work();
}

class FolderComparer {
 public:
  FolderComparer(const FolderScan& scan, Comparison& out)
      : scan_(scan),
        out_(out),
        count_(static_cast<std::uint32_t>(scan.manifest.files.size())),
        keys_are_paths_(FileNameKeysAreNames()),
        listed_alias_(AnyMayBeAlias(scan.manifest.files)),
        seen_(count_),
        verdict_(count_, kNotIntact) {}

  bool Run() {
    scan_.progress.files_total.store(count_);
    if (!LookAtFolder() || !HashPending()) return false;
    CountVerdicts();
    FindObsolete();
    return true;
  }

 private:
  // Attributes are read and the cache consulted in manifest order; the files that
  // need reading are queued for HashPending.
  bool LookAtFolder() {
    // One file, one entry: a path listed twice (or, where letter case makes no
    // difference to the file system, in two letter cases) is compared and queued once,
    // as the manifest lists it first. Two workers on one partial file would cut each
    // other's bytes.
    if (!keys_are_paths_) keys_.reserve(count_);  // reserved whole: `seen_` views into it
    FolderFileInfo folder(scan_.install_dir);
    for (std::uint32_t i = 0; i < count_; ++i) {
      const ManifestEntry& entry = scan_.manifest.files[i];
      if (scan_.cancel.load()) return false;
      scan_.progress.files_done.store(i - static_cast<std::uint32_t>(pending_.size()));
      if (!keys_are_paths_) keys_.push_back(FileNameKey(entry.path));
      if (!seen_.Insert(keys_are_paths_ ? entry.path : keys_.back())) {
        verdict_[i] = kRepeated;
        continue;
      }
      PendingHash file{i, {}};
      if (!folder.Get(entry.path, file.info) || !file.info.is_regular ||
          file.info.size != entry.size) {
        continue;
      }
      auto known = scan_.verify_all ? std::nullopt
                                    : scan_.cache.RecordedHashIs(entry.path, file.info.size,
                                                                 file.info.mtime, entry.sha256);
      if (known) {
        verdict_[i] = *known ? kIntact : kNotIntact;
      } else {
        pending_.push_back(std::move(file));
      }
    }
    SameFilesOnce();
    scan_.progress.files_done.store(count_ - static_cast<std::uint32_t>(pending_.size()));
    return true;
  }

  // One file, one entry, by identity too: on Windows "DATA~1/x.pak" may be the short
  // name of "data files/x.pak", and two entries writing one file through two names
  // would leave it holding whichever came last while both counted as installed. Every
  // such alias holds a "~", so a manifest without one pays nothing for this; with one,
  // each present file is opened once for its identity, and the later entry of two
  // that reach one file is left out as a repeated one is.
  void SameFilesOnce() {
    if (!listed_alias_) return;
    ListedIds();
    std::vector<bool> repeated(count_, false);
    for (std::size_t k = 1; k < listed_ids_.size(); ++k) {
      if (listed_ids_[k].first == listed_ids_[k - 1].first) {
        repeated[listed_ids_[k].second] = true;
      }
    }
    std::erase_if(pending_, [&](const PendingHash& file) { return repeated[file.index]; });
    for (std::uint32_t i = 0; i < count_; ++i) {
      if (repeated[i]) verdict_[i] = kRepeated;
    }
  }

  static bool MayBeAlias(const std::string& path) { return path.find('~') != std::string::npos; }
  static bool AnyMayBeAlias(const std::vector<ManifestEntry>& files) {
    return std::any_of(files.begin(), files.end(),
                       [](const ManifestEntry& entry) { return MayBeAlias(entry.path); });
  }

  std::string LocalPath(const std::string& relative) const {
    return JoinPath(scan_.install_dir, ManifestPathToNative(relative));
  }

  // The identity of every listed file present, sorted by identity and, within one,
  // by manifest order; made once.
  const std::vector<std::pair<FileId, std::uint32_t>>& ListedIds() {
    if (listed_ids_made_) return listed_ids_;
    listed_ids_made_ = true;
    for (std::uint32_t i = 0; i < count_; ++i) {
      FileId id;
      if (verdict_[i] != kRepeated && GetFileId(LocalPath(scan_.manifest.files[i].path), id)) {
        listed_ids_.emplace_back(id, i);
      }
    }
    std::sort(listed_ids_.begin(), listed_ids_.end(), [](const auto& a, const auto& b) {
      return a.first.volume != b.first.volume ? a.first.volume < b.first.volume
             : a.first.index != b.first.index ? a.first.index < b.first.index
                                              : a.second < b.second;
    });
    return listed_ids_;
  }

  // Whether a recorded path the manifest no longer lists reaches a file it does list
  // (either of the two names may be the alias).
  bool ReachesAListedFile(const std::string& path) {
    FileId id;
    if (!(listed_alias_ || MayBeAlias(path)) || !GetFileId(LocalPath(path), id)) return false;
    const auto& ids = ListedIds();
    return std::any_of(ids.begin(), ids.end(),
                       [&](const auto& listed) { return listed.first == id; });
  }

  // Hashes the pending files on several threads, largest first so that no big file is
  // left alone at the end. Verdicts land at each file's manifest index; each lookup was
  // made and each store is made under the cache lock on its own, never across a read,
  // so the lock is held for microseconds. False when a cancel stopped the hashing.
  bool HashPending() {
    if (pending_.empty()) return true;
    std::stable_sort(
        pending_.begin(), pending_.end(),
        [](const PendingHash& a, const PendingHash& b) { return a.info.size > b.info.size; });
    RunOnThreads(HashThreadCount(pending_.size()), [this] { HashFiles(); });
    if (stored_.load()) out_.rehashed = true;
    return !cancelled_.load();
  }

  void HashFiles() {
    while (true) {
      if (scan_.cancel.load()) {
        cancelled_.store(true);
        return;
      }
      const std::size_t k = next_.fetch_add(1);
      if (k >= pending_.size()) return;
      if (!HashOne(pending_[k])) return;
      scan_.progress.files_done.fetch_add(1);
    }
  }

  // False when a cancel stopped the read.
  bool HashOne(const PendingHash& file) {
    const ManifestEntry& entry = scan_.manifest.files[file.index];
    // No handler sits above a hashing thread; a file that could not be judged for want
    // of memory is simply fetched again.
    try {
      std::string hex;
      const std::string local = LocalPath(entry.path);
      if (HashFile(local, hex, &scan_.cancel)) {
        verdict_[file.index] = hex == entry.sha256 ? kIntact : kNotIntact;
        scan_.cache.Store(entry.path, FileState{file.info.size, file.info.mtime, hex});
        stored_.store(true);
      } else if (scan_.cancel.load()) {
        cancelled_.store(true);
        return false;
      }
    } catch (const std::exception&) {
      verdict_[file.index] = kNotIntact;
    }
    return true;
  }

  void CountVerdicts() {
    for (std::uint32_t i = 0; i < count_; ++i) {
      if (verdict_[i] == kIntact) {
        ++out_.intact;
      } else if (verdict_[i] == kNotIntact) {
        out_.download.push_back(scan_.manifest.files[i]);
        out_.bytes += scan_.manifest.files[i].size;
      }
    }
    scan_.progress.files_done.store(count_);
  }

  // Only files the launcher itself recorded are ever deleted. A recorded path that the
  // manifest still lists in another letter case (any letter: Ñandú and ñandú) names
  // the same file on case-insensitive file systems, so it is never put up for
  // deletion. Views into the manifest avoid copying 100,000 paths; folding is only
  // paid for unlisted keys.
  void FindObsolete() {
    // Where keys are the paths themselves, `seen_` already holds every listed path.
    std::optional<ViewSet> listed_paths;
    if (!keys_are_paths_) {
      listed_paths.emplace(count_);
      for (const ManifestEntry& entry : scan_.manifest.files)
        listed_paths->Insert(entry.path);
    }
    const ViewSet& listed = keys_are_paths_ ? seen_ : *listed_paths;
    std::vector<std::string> unlisted;
    {
      MutexLock guard(scan_.cache.lock());
      scan_.cache.ForEachPathLocked([&](const std::string& path) {
        if (!listed.Contains(path)) unlisted.push_back(path);
      });
    }
    if (unlisted.empty()) return;
    std::unordered_set<std::string> listed_folded;
    listed_folded.reserve(count_);
    for (const ManifestEntry& entry : scan_.manifest.files)
      listed_folded.insert(FoldCase(entry.path));
    for (std::string& path : unlisted) {
      if (listed_folded.count(FoldCase(path)) == 0 && !ReachesAListedFile(path)) {
        out_.remove.push_back(std::move(path));
      }
    }
  }

  const FolderScan& scan_;
  Comparison& out_;
  const std::uint32_t count_;
  const bool keys_are_paths_;
  const bool listed_alias_;
  std::vector<std::string> keys_;
  ViewSet seen_;
  std::vector<unsigned char> verdict_;
  std::vector<PendingHash> pending_;
  std::vector<std::pair<FileId, std::uint32_t>> listed_ids_;
  bool listed_ids_made_ = false;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> stored_{false};
};

}  // namespace

bool CompareWithFolder(const FolderScan& scan, Comparison& out) {
  return FolderComparer(scan, out).Run();
}

}  // namespace brisal

// .brisal_state.json in the install folder: for every file the launcher verified or
// installed, the size and last-write time it had when its SHA-256 was known. A check
// trusts the stored hash while size and time are unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/mutex.h"

namespace brisal {

struct FileState {
  std::uint64_t size = 0;
  std::uint64_t mtime = 0;  // FILETIME units
  std::string sha256;
};

inline constexpr const char* kStateFileName = ".brisal_state.json";

// Every member function takes `lock` itself, except the *Locked ones, which REQUIRE
// the caller to hold lock(). Nobody holds it across a file read or a hash. Lock order:
// the save lock, then this lock, then the launcher state's lock; never the reverse.
class FileStateCache {
 public:
  Mutex& lock() RETURN_CAPABILITY(lock_) { return lock_; }

  // Reads the install folder's state file once; a no-op until Reset.
  void Load(const std::string& install_dir);
  // Writes the whole cache; never creates the install folder. lock() is held only
  // while the text is built, not during the write.
  void Save(const std::string& install_dir);

  std::optional<FileState> Lookup(const std::string& path);
  // What the record of `path` says of a file of this size and time: nothing when there
  // is none for these very attributes, else whether its hash is `sha256`. One lookup
  // under the lock, with no copy of the record.
  std::optional<bool> RecordedHashIs(const std::string& path, std::uint64_t size,
                                     std::uint64_t mtime, const std::string& sha256);
  void Store(const std::string& path, const FileState& state);
  void Erase(const std::string& path);
  void SetRevision(const std::string& revision);
  std::string Revision();
  // The highest manifest serial accepted for this folder (0: none), kept so that a
  // replayed older signed manifest is refused. Raising never lowers it; true when it
  // rose, which is worth a Save.
  std::uint64_t Serial();
  bool RaiseSerial(std::uint64_t serial);
  void Reset();
  std::size_t Count();

  std::optional<FileState> LookupLocked(const std::string& path) const REQUIRES(lock_);
  void StoreLocked(const std::string& path, const FileState& state) REQUIRES(lock_);
  // Paths in iteration order, for the obsolete-file scan.
  template <typename Fn>
  void ForEachPathLocked(Fn&& fn) const REQUIRES(lock_) {
    for (const auto& [path, state] : entries_)
      fn(path);
  }

 private:
  std::string SerialiseLocked() const REQUIRES(lock_);

  Mutex save_lock_;  // orders whole saves; taken before lock_
  Mutex lock_;
  std::unordered_map<std::string, FileState> entries_ GUARDED_BY(lock_);
  std::string revision_ GUARDED_BY(lock_);
  std::uint64_t serial_ GUARDED_BY(lock_) = 0;
  bool loaded_ GUARDED_BY(lock_) = false;
};

}  // namespace brisal

// The install folder as the engine changes it. Every write, truncation, rename and
// deletion below the folder goes through here, on "/"-separated relative paths that
// passed IsSafeRelativePath. The folder itself may be a link (players move a game to
// another disk that way); below it nothing is ever followed: a symbolic link, junction
// or other reparse point on the way fails the operation with kLink, and a link in the
// last place is acted on itself (removed, replaced), never through.
//
// Linux resolves below the folder with openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS),
// walking with O_NOFOLLOW where the kernel lacks it, and acts relative to the folder
// handle it found, so a link planted after the check is not followed either. Windows
// does the same with folder handles opened one name at a time, refusing reparse points,
// and renames and deletes by handle.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/files.h"

namespace brisal {

enum class TreeResult {
  kDone,
  kMissing,    // the path (or a folder above it) does not exist
  kLink,       // a link stands on the way to the path
  kRetryable,  // replace only: someone holds the target; waiting may help
  kFailed,
};

// What stands at a path, seen without following a link in the last place.
struct TreeEntry {
  bool is_link = false;
  bool is_directory = false;
  bool is_regular = false;
  std::uint64_t size = 0;
  std::uint64_t mtime = 0;  // FILETIME units
  FileId id;
};

class InstallTree {
 public:
  explicit InstallTree(std::string root) : root_(std::move(root)) {}
  const std::string& root() const { return root_; }

  TreeResult Stat(const std::string& relative, TreeEntry& entry) const;
  // Creates the folders above `relative` that are missing.
  TreeResult CreateParents(const std::string& relative) const;
  // Opens a partial file for reading and writing: a regular file with no other name
  // is opened unchanged (to be resumed); a link, a file with other names (a hard link
  // could be a file outside) or any other non-folder is removed first and a new file
  // is created exclusively.
  TreeResult OpenPartial(const std::string& relative, File& file) const;
  // Moves `from` over `to`, both in one folder. A read-only target is replaced too.
  TreeResult Replace(const std::string& from, const std::string& to) const;
  // Removes a file, or a link itself; never a folder.
  TreeResult RemoveFile(const std::string& relative) const;
  // Removes an empty folder.
  TreeResult RemoveFolder(const std::string& relative) const;
  // Every regular file below the folder, links and what lies behind them left out.
  void ForEachFile(const std::function<void(const std::string& relative)>& visit) const;
  // Bytes an unprivileged user may still write on the folder's volume.
  bool FreeSpace(std::uint64_t& bytes) const;
  // Readies a regular file to be run: on POSIX gives it its owner's execute bit (the
  // engine writes every file without one), on the file itself and never through a
  // link; Windows has no such bit. kLink when the file or a folder on the way to it is
  // a link, kFailed when it is no regular file.
  TreeResult MakeExecutable(const std::string& relative) const;

 private:
  std::string root_;
};

// One engine per install folder: a lock on a file in it, released by the system when
// the process ends however it ends. Move-less; releases on destruction. A name that
// holds something else than a regular file (a folder, a link, a pipe) cannot be
// locked and gives kBusy: going on without the lock is never the answer to it.
class FolderLock {
 public:
  enum class Result { kHeld, kBusy, kFailed };

  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  Result Acquire(const std::string& folder);
  bool held() const { return handle_ != -1; }

 private:
  std::intptr_t handle_ = -1;
};

inline constexpr const char* kLockFileName = ".brisal_lock";

}  // namespace brisal

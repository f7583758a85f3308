// The file-system services the engine needs beyond paths.h, one small interface with a
// POSIX and a Win32 backend. Every failure keeps the system's error number
// (errno / GetLastError) for messages that must show it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace brisal {

// File times are Windows FILETIME values (100 ns units since 1601-01-01 UTC) on every
// platform, so the state file has one format everywhere.
struct FileInfo {
  bool is_directory = false;
  bool is_regular = false;  // not a folder, pipe, device or socket
  std::uint64_t size = 0;
  std::uint64_t mtime = 0;
};

// Which file a name or a handle stands for, whatever its name now: equal ids are one
// file on one volume.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

// False when the path does not exist or cannot be queried.
bool GetFileInfo(const std::string& path, FileInfo& info);

// Which file stands at `path` (links followed, as GetFileInfo follows them). False when
// nothing does or it cannot be opened.
bool GetFileId(const std::string& path, FileId& id);

// GetFileInfo for many manifest paths ("/"-separated) below one folder, as a check
// queries them: the folder of the last file stays open, so each file of a run in one
// folder costs one name lookup instead of a walk of its whole path. Links are followed
// exactly as GetFileInfo follows them (the check only reads). Move-less; closes itself.
class FolderFileInfo {
 public:
  explicit FolderFileInfo(std::string root) : root_(std::move(root)) {}
  ~FolderFileInfo();
  FolderFileInfo(const FolderFileInfo&) = delete;
  FolderFileInfo& operator=(const FolderFileInfo&) = delete;

  // GetFileInfo(JoinPath(root, ManifestPathToNative(relative))).
  bool Get(const std::string& relative, FileInfo& info);

 private:
  std::string root_;
  std::string folder_;  // the relative folder `handle_` stands for
  std::intptr_t handle_ = -1;
};

// Exists and is a regular file (or anything that is not a folder).
bool FileExists(const std::string& path);

bool IsDirectory(const std::string& path);

// True only when the system says nothing stands at `path` (no such name, or a parent
// is missing): a name that exists but cannot be reached is not missing.
bool PathMissing(const std::string& path);

// Creates one folder; true when it exists as a folder afterwards.
bool CreateOneDirectory(const std::string& path);

// Removes an empty folder; false otherwise.
bool RemoveEmptyDirectory(const std::string& path);

// Deletes a file; false when it could not be deleted (a missing file included).
bool DeleteFileAt(const std::string& path);

// Makes a file writable/normal again (clears read-only). Errors are ignored by callers.
void ClearReadOnly(const std::string& path);

enum class ReplaceOutcome {
  kDone,
  // Access denied, sharing or lock violation (EACCES, EPERM, EBUSY on POSIX): someone
  // holds the target; waiting may help.
  kRetryable,
  kFailed,
};

// Moves `from` over `to`, replacing it. Does not flush anything.
ReplaceOutcome ReplaceFileAt(const std::string& from, const std::string& to);

// Flushes a folder's entries (the renames into it) to disk. No-op where the platform
// has no such notion (Windows flushes metadata with the file).
bool SyncDirectory(const std::string& path);


// An open file. Move-only; closes itself.
class File {
 public:
  enum class Mode {
    kRead,        // existing file, read only, sequential
    kReadWrite,   // created when missing, opened unchanged when present, sequential
    kCreateWrite  // created anew (whatever stood there, a link included, removed), write only
  };

  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Only regular files open; a pipe or device is refused without blocking.
  bool Open(const std::string& path, Mode mode);
  bool IsOpen() const { return handle_ != kInvalid; }
  void Close();

  // Bytes read (0 at the end), or -1 on error.
  std::int64_t Read(void* buffer, std::size_t length);
  // Bytes written, or -1 on error. One system call: may write fewer than asked.
  std::int64_t Write(const void* data, std::size_t length);
  // Loops until all bytes are written; false on an error or a zero-byte write.
  bool WriteAll(const void* data, std::size_t length);

  bool Seek(std::uint64_t offset);
  // Cuts the file at the current position.
  bool TruncateHere();
  bool Size(std::uint64_t& size) const;
  // Forces the file's data to disk.
  bool Sync();
  bool Identity(FileId& id) const;

 private:
  friend class InstallTree;

  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t handle_ = kInvalid;
};

}  // namespace brisal

// A test seam under every file operation the engine makes: a test installs an observer
// that sees each operation before the system does and may make it fail as the system
// would (EIO on POSIX, ERROR_WRITE_FAULT on Windows). Production code never installs
// one; with none installed the cost is one relaxed load per operation.
#pragma once

namespace brisal {

enum class FileOp {
  kOpen,          // File::Open, InstallTree::OpenPartial
  kWrite,         // File::Write, File::TruncateHere
  kFlush,         // File::Sync, SyncDirectory
  kRename,        // ReplaceFileAt, InstallTree::Replace
  kDelete,        // DeleteFileAt, RemoveEmptyDirectory, InstallTree::RemoveFile / RemoveFolder
  kCreateFolder,  // CreateOneDirectory, InstallTree::CreateParents
  kStat,          // GetFileInfo, FileExists, IsDirectory, InstallTree::Stat
};

class FileOpObserver {
 public:
  virtual ~FileOpObserver() = default;
  // Called on whatever thread makes the operation (download workers run in parallel);
  // false makes it fail.
  virtual bool Allow(FileOp op) = 0;
  // False makes the kernel's confined path resolution (openat2 on Linux) look refused,
  // as an old kernel or a sandbox refuses it, so that the step-by-step walk that stands
  // in for it is what runs.
  virtual bool AllowConfinedResolution() { return true; }
  // Called when an InstallTree change has opened the folder it acts in and is about
  // to act on the name there: a test may swap what the path leads to right then.
  virtual void FolderOpened(FileOp) {}
};

// Installs `observer` (null: none) for the whole process. REQUIRES: no job runs while
// it changes, and the observer outlives its installation.
void SetFileOpObserver(FileOpObserver* observer);

// Whether the installed observer wants this operation to fail. Backends call it first
// thing in each operation above.
bool FileOpFails(FileOp op);

// Tells the installed observer that the folder of an operation above is open.
void NotifyFolderOpened(FileOp op);

// Whether the installed observer refuses the kernel's confined resolution.
bool ConfinedResolutionRefused();

}  // namespace brisal

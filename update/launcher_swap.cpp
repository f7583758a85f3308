#include "update/launcher_swap.h"

#include "core/files.h"
#include "core/paths.h"

namespace brisal {

namespace {

// Renames are durable only once the folder's entries reach the disk: a power cut must
// not bring back a state the swap had already left.
void SyncFolderOf(const std::string& path) {
  SyncDirectory(ParentPath(path));
}

}  // namespace

std::string AsidePath(const std::string& launcher_path) {
  return launcher_path + ".old";
}

bool SwapInLauncher(const std::string& launcher_path, const std::string& staged, SwapMethod method,
                    Message& error) {
  error = Message(MessageCode::kLauncherSwapFailed, launcher_path);
  if (method == SwapMethod::kReplaceInPlace) {
    if (ReplaceFileAt(staged, launcher_path) != ReplaceOutcome::kDone) return false;
    SyncFolderOf(launcher_path);
    error = {};
    return true;
  }
  const std::string aside = AsidePath(launcher_path);
  if (ReplaceFileAt(launcher_path, aside) != ReplaceOutcome::kDone) return false;
  if (ReplaceFileAt(staged, launcher_path) != ReplaceOutcome::kDone) {
    // Should this fail too, the next start finds the path empty and the old program
    // aside, and puts it back.
    ReplaceFileAt(aside, launcher_path);
    SyncFolderOf(launcher_path);
    return false;
  }
  SyncFolderOf(launcher_path);
  error = {};
  return true;
}

void FinishLauncherSwap(const std::string& launcher_path) {
  const std::string aside = AsidePath(launcher_path);
  if (!FileExists(aside)) return;
  if (PathMissing(launcher_path)) {
    if (ReplaceFileAt(aside, launcher_path) == ReplaceOutcome::kDone) SyncFolderOf(launcher_path);
    return;
  }
  DeleteFileAt(aside);
}

}  // namespace brisal

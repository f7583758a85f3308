// The update check: fetches the manifest (conditionally, with the stored ETag),
// compares every listed file with the install folder through the file-state cache,
// publishes the plan and concludes the phase. Runs as an exclusive job.
#pragma once

#include <chrono>
#include <cstddef>

namespace brisal {

class FolderLock;
struct LauncherState;

// verify_all: rehash every present file of the right size, ignore the cache.
// quiet: the periodic re-check; no busy phase, and most failures change nothing.
// auto_update: go straight on to the update job when there is work.
void RunUpdateCheck(LauncherState& state, bool verify_all, bool quiet, bool auto_update);

// The same, for a job that may hold the install folder's lock already (an update
// that checks afresh after a cancel). Takes it when it is not held and the folder
// exists, and hands it on to the update job it chains into.
void RunUpdateCheck(LauncherState& state, FolderLock& lock, bool verify_all, bool quiet,
                    bool auto_update);

// One engine per install folder. False, with phase 8 and the reason unless `quiet`,
// when another engine (the window, brisal-cli) holds the folder. A folder where the
// lock file cannot be made at all is used without it: nothing could be written there
// by either engine.
bool LockInstallFolder(LauncherState& state, FolderLock& lock, bool quiet);

inline constexpr const char* kFolderBusy = "Otro proceso del launcher está usando esta carpeta";

// The manifest is fetched whole into memory; anything larger is cut here and then
// fails to parse.
inline constexpr std::size_t kManifestBodyCap = 67108864;
// The whole manifest request must end within this: a big manifest at a poor but
// honest speed fits, a server that holds the check does not.
inline constexpr std::chrono::seconds kManifestDeadline{180};

}  // namespace brisal

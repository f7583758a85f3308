// The launcher's own update, as steps of an exclusive job: look at launcher.json (with
// the manifest's signature rules), fetch the newer program through the same verified,
// resumable download as a client file into a folder beside the launcher, and put it
// in place (at the next start for the window; at once for brisal-cli self-update).
//
//   CheckLauncherRelease ──newer──▶ StageLauncher ──▶ ApplyStagedLauncher ──▶ restart
//
// A launcher installed by the system's packages (below /usr) is never replaced: apt
// updates it.
#pragma once

#include <string>

#include "core/messages.h"
#include "core/mutex.h"
#include "shared_state/launcher_state.h"
#include "update/launcher_release.h"
#include "update/launcher_swap.h"

namespace brisal {

// The program to keep current and what it is.
struct LauncherTarget {
  std::string path;             // the launcher's file
  std::string running_version;  // the version it holds (or the release it belongs to)
  std::string platform;         // its entry in launcher.json's "platforms"
  SwapMethod swap = SwapMethod::kReplaceInPlace;
};

// The launcher program beside the running executable (brisal-launcher or
// brisal-cli's sibling), as this build knows it.
LauncherTarget ThisBuildsLauncher(const std::string& launcher_path);
std::string ThisBuildsVersion();

// Whether the system's packages own the program at `launcher_path`.
bool ManagedByPackages(const std::string& launcher_path);

// Where a new program waits for its swap: a folder beside the launcher, so the rename
// stays on one volume.
std::string StagingFolder(const std::string& launcher_path);

enum class LauncherCheck { kUpToDate, kNewer, kFailed, kCancelled };

struct LauncherCheckOutcome {
  LauncherCheck result = LauncherCheck::kFailed;
  Message message;          // why it failed; what was found otherwise
  LauncherRelease release;  // kNewer: what to fetch
  std::string folder_url;   // kNewer: the connection's base URL for the file
  std::string name;         // kNewer: the file's name there and in the staging folder
};

// Fetches launcher.json beside the live settings' manifest and, with manifest keys,
// its signature; refuses a config.json that could not be used, and any release not
// newer than the running version. REQUIRES: an exclusive job.
LauncherCheckOutcome CheckLauncherRelease(LauncherState& state, const LauncherTarget& target)
    REQUIRES(state.plan.job_lock);

// Downloads the release into the staging folder (resuming a partial file left there)
// and records it for ApplyStagedLauncher. Nothing is fetched when it waits there
// already. False with the reason; on a cancel, false with `error` empty.
bool StageLauncher(LauncherState& state, const LauncherTarget& target,
                   const LauncherCheckOutcome& found, Message& error) REQUIRES(state.plan.job_lock);

enum class ApplyResult { kNothing, kSwapped, kFailed };

// Puts a staged program in place when it is newer than the running version and still
// holds the recorded bytes; a stale or damaged one is removed. `version` receives the
// version now in place after kSwapped.
ApplyResult ApplyStagedLauncher(const LauncherTarget& target, std::string& version, Message& error);

// The window's background step after each check: look, fetch, leave it for the next
// start. Logs what it did; the log is the only trace of a quiet failure.
void KeepLauncherCurrent(LauncherState& state, const LauncherTarget& target)
    REQUIRES(state.plan.job_lock);

}  // namespace brisal

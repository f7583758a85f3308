// The check step: fetches the manifest (conditionally, with the stored ETag), makes
// sure the operator stands behind it, compares every listed file with the install
// folder through the file-state cache, publishes the plan and settles the phase.
#pragma once

#include <chrono>
#include <cstddef>

#include "shared_state/engine_request.h"
#include "shared_state/launcher_state.h"
#include "update/step.h"

namespace brisal {

class FolderLock;

// `action` is kCheck, kVerify or kQuietRecheck. Takes the folder's lock into `lock`
// when it is not held and the folder exists (a folder not made yet holds nothing to
// guard). kPlanReady when the phase is now "not installed" or "update available".
StepOutcome CheckStep(LauncherState& state, FolderLock& lock, EngineAction action)
    REQUIRES(state.plan.job_lock);

// One engine per install folder. False, with the failed phase and the reason unless `quiet`,
// when another engine (the window, brisal-cli) holds the folder. A folder where the
// lock file cannot be made at all is used without it: nothing could be written there
// by either engine.
bool LockInstallFolder(LauncherState& state, FolderLock& lock, bool quiet)
    REQUIRES(state.plan.job_lock);

// The manifest is fetched whole into memory; anything larger is cut here and then
// fails to parse.
inline constexpr std::size_t kManifestBodyCap = 67108864;
// The whole manifest request must end within this: a big manifest at a poor but
// honest speed fits, a server that holds the check does not.
inline constexpr std::chrono::seconds kManifestDeadline{180};

}  // namespace brisal

// The update step: carries out the plan of the last check with up to eight download
// workers, three attempts per file, then deletes obsolete files, records the
// revision and reports the client up to date.
#pragma once

#include "shared_state/launcher_state.h"
#include "update/step.h"

namespace brisal {

class FolderLock;

// REQUIRES a ready plan (plan.ready). Makes the install folder and takes its lock
// into `lock` when not held. kUpToDate when every file was placed; kCancelled leaves
// the partial files for a later resume.
StepOutcome UpdateStep(LauncherState& state, FolderLock& lock) REQUIRES(state.plan.job_lock);

}  // namespace brisal

#include "update/engine.h"

#include "core/install_tree.h"
#include "shared_state/launcher_state.h"
#include "update/update_check.h"
#include "update/update_job.h"

namespace brisal {

namespace {

// Whether an update may start now: a check left work to do, and the player has not
// cancelled a download since they last asked for one.
bool UpdateWanted(LauncherState& state) {
  const UpdatePhase phase = CurrentPhase(state);
  if (phase != UpdatePhase::kNotInstalled && phase != UpdatePhase::kUpdateAvailable) return false;
  return !state.jobs.downloads_held.load();
}

void Update(LauncherState& state, FolderLock& lock) REQUIRES(state.plan.job_lock) {
  if (!UpdateWanted(state)) return;
  // The phase may still be another folder's or server's: the folder changed while
  // this job waited for its turn. Check this one first.
  if (!state.plan.ready) {
    if (CheckStep(state, lock, EngineAction::kCheck).result != StepResult::kPlanReady) return;
    if (state.jobs.cancel.load() || !UpdateWanted(state)) return;
  }
  if (UpdateStep(state, lock).result != StepResult::kCancelled) return;
  // A cancel holds further downloads until the player asks again, and the phase
  // shows the folder as the cancel left it.
  state.jobs.downloads_held.store(true);
  state.jobs.cancel.store(false);
  CheckStep(state, lock, EngineAction::kCheck);
}

}  // namespace

void RunEngine(LauncherState& state, const EngineRequest& request) {
  state.plan.job_lock.AssertHeld();
  FolderLock lock;
  if (request.action == EngineAction::kUpdate) {
    Update(state, lock);
    return;
  }
  const StepOutcome checked = CheckStep(state, lock, request.action);
  if (checked.result == StepResult::kPlanReady && request.then == AfterCheck::kUpdateWhenNeeded &&
      !state.jobs.cancel.load()) {
    Update(state, lock);
  }
}

void RunUpdateCheck(LauncherState& state, EngineAction check, AfterCheck then) {
  RunEngine(state, EngineRequest{check, then});
}

void RunUpdateJob(LauncherState& state) {
  RunEngine(state, EngineRequest{EngineAction::kUpdate, AfterCheck::kStop});
}

}  // namespace brisal

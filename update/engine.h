// The driver: the one way into the engine, for the window and brisal-cli alike. It
// runs the steps a request needs in order, under the install folder's lock, and
// decides from each step's outcome what comes next:
//
//   check / verify / quiet re-check ──plan ready + kUpdateWhenNeeded──▶ update
//   update (no plan yet) ──▶ check ──plan ready──▶ update
//   update ──cancelled──▶ downloads held, check (the folder as the cancel left it)
//
// REQUIRES: runs as an exclusive job (RunJobWrapped with JobKind::kExclusive), which
// holds plan.job_lock; it aborts the process otherwise.
#pragma once

#include "shared_state/engine_request.h"

namespace brisal {

struct LauncherState;

void RunEngine(LauncherState& state, const EngineRequest& request);

// The check, with what follows it.
void RunUpdateCheck(LauncherState& state, EngineAction check, AfterCheck then = AfterCheck::kStop);

// The update (INSTALAR, ACTUALIZAR): carries out the plan of the last check, which
// must have left the phase at "not installed" or "update available".
void RunUpdateJob(LauncherState& state);

}  // namespace brisal

// What a step of the engine ends with. A step publishes its own phase and progress as
// it goes; the outcome tells the driver what to run next. Steps never call each other.
#pragma once

#include <cstdint>

#include "core/messages.h"

namespace brisal {

enum class StepResult : std::uint8_t {
  kPlanReady,  // the check found work: the plan waits for the update step
  kUpToDate,   // the folder is current
  kUnchanged,  // a quiet re-check learnt nothing new; nothing was published
  kFailed,     // `message` says why; the phase shows it unless the step was quiet
  kCancelled,  // the cancel flag stopped the step
  kHeld,       // the player's cancel holds downloads until they ask again
};

struct StepOutcome {
  StepResult result = StepResult::kFailed;
  Message message;
};

}  // namespace brisal

// What the window or brisal-cli asks of the engine. One driver carries out every
// request; see update/engine.h.
#pragma once

#include <cstdint>

namespace brisal {

enum class EngineAction : std::uint8_t {
  kCheck,         // compare the folder with the manifest, trusting the file-state cache
  kVerify,        // the same, hashing every present file of the right size
  kQuietRecheck,  // the periodic check: no busy phase, most failures change nothing
  kUpdate,        // carry out the plan of the last check, checking first if there is none
};

enum class AfterCheck : std::uint8_t {
  kStop,
  kUpdateWhenNeeded,  // go straight on to the update when the check finds work
};

// config.json's auto_update, as a request's follow-up.
inline AfterCheck AfterCheckFor(bool auto_update) {
  return auto_update ? AfterCheck::kUpdateWhenNeeded : AfterCheck::kStop;
}

struct EngineRequest {
  EngineAction action = EngineAction::kCheck;
  AfterCheck then = AfterCheck::kStop;
};

}  // namespace brisal

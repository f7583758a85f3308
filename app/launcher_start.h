// The launcher's own update at start-up, the same on both platforms: finish a swap an
// earlier run left, put a staged newer program in place, and start it instead of
// going on with this one.
#pragma once

#include <string>

namespace brisal {

// What start-up does with this process.
enum class StartDecision { kRunWindow, kRestart };

// Call with the single instance held: finishes an earlier swap, then puts a staged
// newer program at `self` when there is one (kRestart). Logs what it did.
StartDecision PutNewLauncherInPlace(const std::string& self);

// Starts the program now at `self` (with the single instance released). False, logged,
// when it could not be started: this process then goes on with its window.
bool StartNewLauncher(const std::string& self);

// The line --version prints.
std::string VersionLine();

}  // namespace brisal

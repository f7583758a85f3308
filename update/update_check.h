// The update check: fetches the manifest (conditionally, with the stored ETag),
// compares every listed file with the install folder through the file-state cache,
// publishes the plan and concludes the phase. Runs as an exclusive job.
#pragma once

#include <chrono>
#include <cstddef>

namespace brisal {

struct LauncherState;

// verify_all: rehash every present file of the right size, ignore the cache.
// quiet: the periodic re-check; no busy phase, and most failures change nothing.
// auto_update: go straight on to the update job when there is work.
void RunUpdateCheck(LauncherState& state, bool verify_all, bool quiet, bool auto_update);

// The manifest is fetched whole into memory; anything larger is cut here and then
// fails to parse.
inline constexpr std::size_t kManifestBodyCap = 67108864;
// The whole manifest request must end within this: a big manifest at a poor but
// honest speed fits, a server that holds the check does not.
inline constexpr std::chrono::seconds kManifestDeadline{180};

}  // namespace brisal

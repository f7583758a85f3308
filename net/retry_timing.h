// How long to stay away from a server before asking again. Pure functions of their
// inputs: the random part comes in as `random_unit` in [0, 1), so a caller decides
// where it comes from (RandomUnit in production, a fixed value in tests). The jitter
// spreads launchers that failed together, so a server that comes back is not met by
// all of them in the same second.
#pragma once

#include <chrono>
#include <cstdint>

namespace brisal {

// The longest a periodic re-check stretches to while the server keeps failing (unless
// the configured period is longer still).
inline constexpr std::chrono::seconds kMaxRecheckPeriod{3600};

// The pause before retrying a file after its `attempt`-th failed attempt (1: before the
// second): `base_pause` doubled per attempt, scattered over [0.5, 1.5) of that and
// capped at kMaxRetryAfter. A Retry-After from the server (`retry_after` > 0) replaces
// all of it, capped the same way.
std::chrono::milliseconds RetryDelay(int attempt, std::chrono::milliseconds base_pause,
                                     double random_unit,
                                     std::chrono::seconds retry_after = std::chrono::seconds(0));

// The period until the next quiet re-check: `configured_seconds` (> 0) doubled per
// consecutive failed check, capped at kMaxRecheckPeriod, within ±10 % of that.
std::chrono::milliseconds RecheckPeriod(std::int32_t configured_seconds,
                                        std::uint32_t consecutive_failures, double random_unit);

// A uniform value in [0, 1) from this thread's own generator, seeded from the system.
double RandomUnit();

}  // namespace brisal

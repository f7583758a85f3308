#include "net/retry_timing.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "net/retry_after.h"

namespace brisal {

namespace {

using Millis = std::chrono::milliseconds;

// `random_unit` as the callers promise it; anything else (NaN included) counts as the
// middle, which scatters nothing.
double Unit(double random_unit) {
  return random_unit >= 0.0 && random_unit < 1.0 ? random_unit : 0.5;
}

// `base` doubled `times` times, stopping once it reaches `cap` so nothing overflows.
Millis Doubled(Millis base, std::uint32_t times, Millis cap) {
  Millis period = std::max(base, Millis(0));
  for (std::uint32_t i = 0; i < times && period < cap; ++i)
    period *= 2;
  return std::min(period, cap);
}

Millis Scaled(Millis period, double factor) {
  return Millis(
      static_cast<Millis::rep>(std::llround(static_cast<double>(period.count()) * factor)));
}

}  // namespace

Millis RetryDelay(int attempt, Millis base_pause, double random_unit,
                  std::chrono::seconds retry_after) {
  const Millis cap = kMaxRetryAfter;
  if (retry_after.count() > 0) return std::min<Millis>(retry_after, cap);
  const auto doublings = static_cast<std::uint32_t>(std::max(attempt, 1) - 1);
  const Millis pause = Doubled(base_pause, doublings, cap);
  return std::min(Scaled(pause, 0.5 + Unit(random_unit)), cap);
}

Millis RecheckPeriod(std::int32_t configured_seconds, std::uint32_t consecutive_failures,
                     double random_unit) {
  const Millis configured = std::chrono::seconds(std::max<std::int32_t>(configured_seconds, 1));
  const Millis cap = std::max<Millis>(configured, kMaxRecheckPeriod);
  const Millis period = Doubled(configured, consecutive_failures, cap);
  return Scaled(period, 0.9 + 0.2 * Unit(random_unit));
}

double RandomUnit() {
  // One generator per thread: nothing shared to lock, and no thread's sequence is
  // another's.
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  // Some standard libraries can round up to the upper bound itself.
  return std::min(unit(generator), std::nextafter(1.0, 0.0));
}

}  // namespace brisal

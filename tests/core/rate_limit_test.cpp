#include "core/rate_limit.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace brisal {
namespace {

using std::chrono::nanoseconds;
using std::chrono::seconds;

// Time for several threads that moves only when one sleeps: to the sleeper's own
// wake-up unless it is there already, so sleeps side by side do not add up.
LimiterClock VirtualClock(std::atomic<std::int64_t>& now) {
  static thread_local std::int64_t seen = 0;
  return {[&now] { return nanoseconds(seen = now.load()); },
          [&now](nanoseconds pause) {
            for (std::int64_t t = now.load(); t < seen + pause.count();) {
              now.compare_exchange_weak(t, seen + pause.count());
            }
          }};
}

TEST(RateLimiterTest, SharedRateHoldsForAnyWorkerCountAndFollowsAChange) {
  constexpr std::uint64_t kMiB = 1 << 20;
  struct Case {
    std::uint64_t rate, changed_to, workers;  // changed_to: set 5 s into the transfer; 0: none
  } const cases[] = {{kMiB / 2, 0, 1},  {2 * kMiB, 0, 3},     {2 * kMiB, 0, 8},
                     {20 * kMiB, 0, 8}, {20 * kMiB, kMiB, 4}, {kMiB, 10 * kMiB, 2}};
  for (const Case& c : cases) {
    std::atomic<std::int64_t> now{0};
    RateLimiter limiter(VirtualClock(now));
    limiter.SetRate(c.rate);
    std::atomic<std::uint64_t> measured{0};  // from 2 s, or from 1 s after the change
    // The bucket starts at 0 s, the workers at 2 s: idle time saves no more than a burst.
    ASSERT_TRUE(limiter.Take(0, std::atomic<bool>{false}));
    now = nanoseconds(seconds(2)).count();
    std::vector<std::jthread> workers;
    for (std::uint64_t i = 0; i < c.workers; ++i) {
      workers.emplace_back([&, chunk = 16384u * (1 + i % 4)] {
        for (nanoseconds t{now.load()}; t < seconds(12); t = nanoseconds(now.load())) {
          if (c.changed_to != 0 && t >= seconds(7)) limiter.SetRate(c.changed_to);
          ASSERT_TRUE(limiter.Take(chunk, std::atomic<bool>{false}));
          if (nanoseconds(now.load()) >= seconds(c.changed_to == 0 ? 2 : 8)) measured += chunk;
        }
      });
    }
    workers.clear();
    const std::uint64_t expected = c.changed_to == 0 ? 10 * c.rate : 4 * c.changed_to;
    EXPECT_NEAR(static_cast<double>(measured) / static_cast<double>(expected), 1.0, 0.1)
        << c.rate << " B/s, " << c.workers << " workers, then " << c.changed_to;
  }
}

TEST(RateLimiterTest, CancelEndsAWaitWithinAHundredMilliseconds) {
  nanoseconds now{0};
  std::atomic<bool> cancel{false};
  RateLimiter limiter(
      {[&] { return now; }, [&](nanoseconds pause) { cancel = (now += pause) >= seconds(1); }});
  limiter.SetRate(1000);
  ASSERT_TRUE(limiter.Take(65536, cancel));  // the first burst
  EXPECT_FALSE(limiter.Take(65536, cancel));
  EXPECT_LE(now - seconds(1), std::chrono::milliseconds(100));
}

}  // namespace
}  // namespace brisal

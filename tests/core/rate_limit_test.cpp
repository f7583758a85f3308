#include "core/rate_limit.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace brisal {
namespace {

using std::chrono::nanoseconds;
using std::chrono::seconds;

// Time for several threads that passes only while every one of them sleeps: it jumps
// to the earliest wake-up, so ten seconds of transfer take no ten seconds.
class VirtualClock {
 public:
  explicit VirtualClock(int threads) : running_(threads) {}
  LimiterClock Clock() {
    return {[this] {
              std::lock_guard<std::mutex> guard(mutex_);
              return now_;
            },
            [this](nanoseconds pause) { Sleep(pause); }};
  }
  void Leave() {
    std::lock_guard<std::mutex> guard(mutex_);
    --running_;
    Advance();
  }

 private:
  void Sleep(nanoseconds pause) {
    std::unique_lock<std::mutex> guard(mutex_);
    const nanoseconds wake = now_ + pause;
    wakes_.insert(wake);
    --running_;
    Advance();
    woken_.wait(guard, [&] { return now_ >= wake; });
  }
  void Advance() {
    if (running_ > 0 || wakes_.empty()) return;
    now_ = *wakes_.begin();
    // Counted as running at once, so no sleeper moves time past a thread not yet awake.
    while (!wakes_.empty() && *wakes_.begin() <= now_) {
      wakes_.erase(wakes_.begin());
      ++running_;
    }
    woken_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable woken_;
  nanoseconds now_{0};
  std::multiset<nanoseconds> wakes_;
  int running_;
};

TEST(RateLimiterTest, SharedRateHoldsForAnyWorkerCountAndFollowsAChange) {
  struct Case {
    std::uint64_t rate, changed_to;  // changed_to is set 5 s into the transfer; 0: no change
    int workers;
  };
  constexpr std::uint64_t kMiB = 1 << 20;
  for (const Case c : {Case{kMiB / 2, 0, 1}, Case{2 * kMiB, 0, 3}, Case{2 * kMiB, 0, 8},
                       Case{20 * kMiB, 0, 8}, Case{20 * kMiB, kMiB, 4}, Case{kMiB, 10 * kMiB, 2}}) {
    VirtualClock clock(c.workers);
    RateLimiter limiter(clock.Clock());
    limiter.SetRate(c.rate);
    const std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> total{0}, after_change{0};
    std::atomic<bool> changed{false};
    const LimiterClock now = clock.Clock();
    // The bucket starts at 0 s and the workers at 2 s: idle time saves no more than a burst.
    ASSERT_TRUE(limiter.Take(0, cancel));
    std::vector<std::jthread> workers;
    for (int i = 0; i < c.workers; ++i) {
      workers.emplace_back([&, chunk = 16384u * (1 + i % 4)] {
        now.sleep(seconds(2));
        for (nanoseconds t = now.now(); t < seconds(12); t = now.now()) {
          if (c.changed_to != 0 && t >= seconds(7) && !changed.exchange(true)) {
            limiter.SetRate(c.changed_to);
          }
          ASSERT_TRUE(limiter.Take(chunk, cancel));
          total += chunk;
          if (now.now() >= seconds(8)) after_change += chunk;
        }
        clock.Leave();
      });
    }
    workers.clear();
    const double expected = c.changed_to == 0 ? 10.0 * static_cast<double>(c.rate)
                                              : 4.0 * static_cast<double>(c.changed_to);
    const auto measured = static_cast<double>(c.changed_to == 0 ? total : after_change);
    EXPECT_NEAR(measured / expected, 1.0, 0.1)
        << c.rate << " B/s, " << c.workers << " workers, then " << c.changed_to;
  }
}

TEST(RateLimiterTest, CancelEndsAWaitWithinAHundredMilliseconds) {
  nanoseconds now{0};
  std::atomic<bool> cancel{false};
  RateLimiter limiter({[&] { return now; },
                       [&](nanoseconds pause) {
                         now += pause;
                         if (now >= seconds(1)) cancel.store(true);
                       }});
  limiter.SetRate(1000);
  ASSERT_TRUE(limiter.Take(65536, cancel));  // the first burst
  EXPECT_FALSE(limiter.Take(65536, cancel));
  EXPECT_LE(now - seconds(1), std::chrono::milliseconds(100));
}

}  // namespace
}  // namespace brisal

// The player's download speed limit: one token bucket that every download worker of
// an update draws from, so the limit holds for the sum of their connections.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "core/mutex.h"

namespace brisal {

// The limiter's view of time. Tests give it a clock of their own so that ten seconds
// of transfer take no ten seconds; `sleep` may return early.
struct LimiterClock {
  std::function<std::chrono::nanoseconds()> now;
  std::function<void(std::chrono::nanoseconds)> sleep;

  static LimiterClock Steady();
};

class RateLimiter {
 public:
  explicit RateLimiter(LimiterClock clock = LimiterClock::Steady());
  RateLimiter(const RateLimiter&) = delete;
  RateLimiter& operator=(const RateLimiter&) = delete;

  // Bytes per second, 0 for no limit. Any thread, at any moment: a transfer waiting
  // for its turn takes a new rate up within a wait slice.
  void SetRate(std::uint64_t bytes_per_second);
  std::uint64_t Rate() const;

  // Waits until `bytes` may pass, then counts them. False, without counting them,
  // when `cancel` was raised first; a cancel is seen within a wait slice.
  bool Take(std::uint64_t bytes, const std::atomic<bool>& cancel) EXCLUDES(lock_);

  // The longest single sleep: the cancel and a changed rate are looked at this often.
  static constexpr std::chrono::milliseconds kWaitSlice{50};

 private:
  // Tokens from the time passed since the last refill, up to the burst of `rate`.
  void Refill(std::uint64_t rate, std::chrono::nanoseconds now) REQUIRES(lock_);

  const LimiterClock clock_;
  std::atomic<std::uint64_t> rate_{0};
  Mutex lock_;
  // May fall below zero: a request larger than the burst passes when the bucket is
  // full and leaves the rest as a debt that later requests wait out.
  double tokens_ GUARDED_BY(lock_) = 0;
  std::chrono::nanoseconds last_refill_ GUARDED_BY(lock_){0};
  bool started_ GUARDED_BY(lock_) = false;
};

// The largest burst at `rate` bytes per second: a quarter of a second's bytes, and
// never less than one 64 KiB chunk, so that short files are not slowed and the
// average holds.
double BurstBytes(std::uint64_t rate);

}  // namespace brisal

#include "core/rate_limit.h"

#include <algorithm>
#include <thread>

namespace brisal {

namespace {

constexpr double kChunkBytes = 65536;

}  // namespace

LimiterClock LimiterClock::Steady() {
  return LimiterClock{[] {
                        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch());
                      },
                      [](std::chrono::nanoseconds pause) { std::this_thread::sleep_for(pause); }};
}

double BurstBytes(std::uint64_t rate) {
  return std::max(static_cast<double>(rate) / 4, kChunkBytes);
}

RateLimiter::RateLimiter(LimiterClock clock) : clock_(std::move(clock)) {}

void RateLimiter::SetRate(std::uint64_t bytes_per_second) {
  rate_.store(bytes_per_second);
}

std::uint64_t RateLimiter::Rate() const {
  return rate_.load();
}

void RateLimiter::Refill(std::uint64_t rate, std::chrono::nanoseconds now) {
  const double burst = BurstBytes(rate);
  if (!started_) {
    // A transfer starts with a full bucket: a short file passes at once.
    tokens_ = burst;
    started_ = true;
  } else if (now > last_refill_) {
    const double seconds = std::chrono::duration<double>(now - last_refill_).count();
    tokens_ += seconds * static_cast<double>(rate);
  }
  // Also after a change to a lower rate: what the old rate's burst saved must not
  // let the new rate be exceeded for seconds.
  tokens_ = std::min(tokens_, burst);
  last_refill_ = std::max(last_refill_, now);
}

bool RateLimiter::Take(std::uint64_t bytes, const std::atomic<bool>& cancel) {
  while (true) {
    if (cancel.load()) return false;
    // Read on every pass, so that a change made by the window while this transfer
    // waits is taken up at the next slice.
    const std::uint64_t rate = rate_.load();
    if (rate == 0) return true;
    std::chrono::nanoseconds pause{0};
    {
      MutexLock guard(lock_);
      Refill(rate, clock_.now());
      const double wanted = std::min(static_cast<double>(bytes), BurstBytes(rate));
      if (tokens_ >= wanted) {
        tokens_ -= static_cast<double>(bytes);
        return true;
      }
      const double seconds = (wanted - tokens_) / static_cast<double>(rate);
      pause = std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::duration<double>(seconds));
    }
    clock_.sleep(
        std::clamp<std::chrono::nanoseconds>(pause, std::chrono::microseconds(100), kWaitSlice));
  }
}

}  // namespace brisal

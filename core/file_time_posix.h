// File times as the state file keeps them on every platform: Windows' FILETIME, 100 ns
// ticks since 1601-01-01, so that a state file means the same wherever it was written.
#pragma once

#include <time.h>

#include <cstdint>

namespace brisal {

// The check trusts a record only while size and this time are unchanged, so what lies
// below the second must stay: 100 ns is as fine as FILETIME goes, and two writes of one
// file never fall within 100 ns of each other (a coarse clock gives them the very same
// time, which no finer unit would tell apart either).
inline std::uint64_t FileTimeOf(const struct timespec& ts) {
  // Seconds between 1601-01-01 and 1970-01-01, the FILETIME and Unix epochs.
  constexpr std::uint64_t kEpochDifferenceSeconds = 11644473600ULL;
  return (static_cast<std::uint64_t>(ts.tv_sec) + kEpochDifferenceSeconds) * 10000000ULL +
         static_cast<std::uint64_t>(ts.tv_nsec) / 100;
}

}  // namespace brisal

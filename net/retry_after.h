// A server under load says how long to stay away with Retry-After (RFC 9110, 10.2.3):
// a number of seconds or an HTTP date. The launcher honours it, but a misconfigured
// or hostile server must never park the launcher for hours.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace brisal {

// The longest wait a Retry-After can ask for; anything later is cut to this.
inline constexpr std::chrono::seconds kMaxRetryAfter{600};

// The wait `value` asks for, seen at `now_unix` (seconds since 1970, UTC): delta-seconds
// or a date in the IMF-fixdate, RFC 850 or asctime form, capped at kMaxRetryAfter.
// 0 for anything else: garbage, a negative number, a date already past.
std::chrono::seconds ParseRetryAfter(std::string_view value, std::int64_t now_unix);

// The same, seen now.
std::chrono::seconds ParseRetryAfterNow(std::string_view value);

}  // namespace brisal

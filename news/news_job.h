// The news list: fetched once per launcher run as a concurrent job, published in the
// LauncherState, and kept in news.cache.json in the data folder so the news still
// show when the server cannot be reached.
#pragma once

#include <chrono>
#include <cstddef>

#include "shared_state/launcher_state.h"

namespace brisal {

inline constexpr std::size_t kMaxNewsItems = 8;
// The body stops being read once it holds this much (plus at most one chunk).
inline constexpr std::size_t kNewsBodyCap = 1048576;
// The news are small; their request has no cancel, so this is what ends it.
inline constexpr std::chrono::seconds kNewsDeadline{60};
inline constexpr const char* kNewsCacheName = "news.cache.json";

// Fetches the feed at the job settings' base_url + news (the pending hand-over when one
// waits, else `live`), falling back to the cache when the server gives no feed, and
// replaces state.news with what parsed. A feed that does not parse changes nothing,
// and only a fresh feed that parsed replaces the cache. Never touches the phase or the
// status text and logs nothing of its own; an item member that is not a string throws,
// which the job wrapper logs.
// REQUIRES: run through StartJob as a concurrent job (it takes no job_lock).
void RunNewsJob(LauncherState& state);

}  // namespace brisal

#include "update/block_reuse.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "core/files.h"
#include "core/install_tree.h"
#include "core/log.h"
#include "core/paths.h"
#include "net/http_client.h"
#include "shared_state/launcher_state.h"

namespace brisal {

namespace {

// How far into an old file a plan looks for a first chunk in common before it gives
// up on the file.
constexpr std::uint64_t kGiveUpAfter = 16ull * 1024 * 1024;
// A map is a small document: it may not hold a planning thread for long.
constexpr std::chrono::seconds kMapDeadline{60};

// Turns the runs of copies between fetches into fetches, smallest runs first, until
// at most `max_fetches` fetches remain, and joins fetches that then touch.
void MergeFetches(std::vector<ReusePiece>& pieces, std::size_t max_fetches) {
  struct Run {
    std::size_t first;
    std::size_t last;  // one past
    std::uint64_t bytes;
  };
  std::vector<Run> runs;
  std::size_t fetches = 0;
  for (std::size_t i = 0; i < pieces.size();) {
    if (!pieces[i].local) {
      ++fetches;
      ++i;
      continue;
    }
    Run run{i, i, 0};
    for (; run.last < pieces.size() && pieces[run.last].local; ++run.last)
      run.bytes += pieces[run.last].length;
    // Only a run between two fetches joins them when it is fetched too.
    if (run.first > 0 && run.last < pieces.size()) runs.push_back(run);
    i = run.last;
  }
  if (fetches <= max_fetches) return;
  std::stable_sort(runs.begin(), runs.end(),
                   [](const Run& a, const Run& b) { return a.bytes < b.bytes; });
  runs.resize(std::min(runs.size(), fetches - max_fetches));
  for (const Run& run : runs) {
    for (std::size_t i = run.first; i < run.last; ++i)
      pieces[i].local = false;
  }
  std::vector<ReusePiece> merged;
  for (ReusePiece& piece : pieces) {
    if (!piece.local && !merged.empty() && !merged.back().local) {
      merged.back().length += piece.length;
    } else {
      if (!piece.local) piece.hash.clear();
      merged.push_back(std::move(piece));
    }
  }
  pieces = std::move(merged);
}

bool FetchBlockMap(HttpClient& client, const JobSettings& settings, const ManifestEntry& entry,
                   const std::atomic<bool>& cancel, BlockMap& map) {
  const SmallDocument fetched = FetchSmallDocument(
      client, BlockMapPath(settings.manifest, entry.sha256), {}, BlockMapCap(entry.size), &cancel);
  const HttpResult& result = fetched.result;
  if (cancel.load()) return false;
  std::string why;
  if (fetched.too_large) {
    why = "demasiado grande";
  } else if (result.status != 200 || result.error != 0) {
    // Most files have none: only what else went wrong is worth a line.
    if (result.status != 404) {
      Log("mapa de bloques de %s no disponible (HTTP %u, error %u)", entry.path.c_str(),
          result.status, result.error);
    }
    return false;
  } else if (ParseBlockMap(fetched.body, entry.size, entry.sha256, map, why)) {
    return true;
  }
  Log("mapa de bloques de %s rechazado (%s): se descarga entero", entry.path.c_str(), why.c_str());
  return false;
}

// An older version of a large file at the entry's own path: the one source of chunks.
bool HasOlderVersion(const InstallTree& tree, const ManifestEntry& entry) {
  TreeEntry standing;
  return entry.size >= kBlockMapMinFileSize &&
         tree.Stat(entry.path, standing) == TreeResult::kDone && standing.is_regular &&
         !standing.is_link && standing.size > 0;
}

ReusePlan PlanEntry(HttpClient& client, const JobSettings& settings, const InstallTree& tree,
                    const ManifestEntry& entry, const std::atomic<bool>& cancel) {
  BlockMap map;
  if (!HasOlderVersion(tree, entry) || !FetchBlockMap(client, settings, entry, cancel, map)) {
    return {};
  }
  // Read, never written: what it yields is checked chunk by chunk before it is used.
  File old_file;
  if (!old_file.Open(JoinPath(tree.root(), ManifestPathToNative(entry.path)), File::Mode::kRead)) {
    return {};
  }
  // Only a chunk as long as one of the map's can be one of them: the others are not
  // worth their hash. An old file that shares nothing with the new one is given up
  // early, so a file replaced outright costs little more than its download.
  std::unordered_set<std::uint32_t> lengths;
  std::unordered_set<std::string_view> wanted;
  for (const Chunk& chunk : map.chunks) {
    lengths.insert(chunk.length);
    wanted.insert(chunk.hash);
  }
  const std::function<bool(std::uint32_t)> worth_hashing = [&lengths](std::uint32_t length) {
    return lengths.count(length) != 0;
  };
  std::vector<Chunk> local;  // only the chunks the map names
  const bool cut = ChunkFile(
      old_file, map.limits, nullptr,
      [&](const Chunk& chunk) {
        if (!chunk.hash.empty() && wanted.count(chunk.hash) != 0) local.push_back(chunk);
        return !local.empty() || chunk.offset < kGiveUpAfter;
      },
      &cancel, &worth_hashing);
  if (!cut) return {};
  return PlanReuse(map, local, kMaxFetchesPerFile);
}

}  // namespace

std::uint64_t ReusePlan::FetchBytesFrom(std::uint64_t resume) const {
  std::uint64_t bytes = 0;
  for (const ReusePiece& piece : pieces) {
    const std::uint64_t end = piece.offset + piece.length;
    if (end <= resume) continue;
    // A copy the partial file already holds half of is fetched from there on.
    if (!piece.local || piece.offset < resume) bytes += end - std::max(piece.offset, resume);
  }
  return bytes;
}

std::uint64_t ReusePlan::FetchBytesBefore(std::uint64_t prefix) const {
  std::uint64_t bytes = 0;
  for (const ReusePiece& piece : pieces) {
    if (piece.offset >= prefix) break;
    if (!piece.local) bytes += std::min(piece.offset + piece.length, prefix) - piece.offset;
  }
  return bytes;
}

std::uint64_t ReusePlan::Fetches() const {
  return static_cast<std::uint64_t>(
      std::count_if(pieces.begin(), pieces.end(), [](const ReusePiece& p) { return !p.local; }));
}

ReusePlan PlanReuse(const BlockMap& map, const std::vector<Chunk>& local, std::size_t max_fetches) {
  std::unordered_map<std::string_view, const Chunk*> held;
  held.reserve(local.size());
  for (const Chunk& chunk : local)
    held.emplace(chunk.hash, &chunk);
  ReusePlan plan;
  bool reused = false;
  for (const Chunk& chunk : map.chunks) {
    const auto found = held.find(chunk.hash);
    if (found != held.end() && found->second->length == chunk.length) {
      plan.pieces.push_back(
          ReusePiece{chunk.offset, chunk.length, true, found->second->offset, chunk.hash});
      reused = true;
    } else if (!plan.pieces.empty() && !plan.pieces.back().local) {
      plan.pieces.back().length += chunk.length;
    } else {
      plan.pieces.push_back(ReusePiece{chunk.offset, chunk.length, false, 0, {}});
    }
  }
  // Nothing in common: the plan would only split one request into many.
  if (!reused) return {};
  MergeFetches(plan.pieces, std::max<std::size_t>(max_fetches, 1));
  return plan;
}

std::string BlockMapPath(const std::string& manifest_path, const std::string& sha256) {
  const std::string path = manifest_path.substr(0, manifest_path.find('?'));
  const std::size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "blocks/" +
         sha256;
}

std::vector<ReusePlan> PlanBlockReuse(const JobSettings& settings, const InstallTree& tree,
                                      const std::vector<ManifestEntry>& work, std::size_t threads,
                                      const std::atomic<bool>& cancel) {
  std::vector<ReusePlan> plans(work.size());
  std::vector<std::size_t> candidates;
  for (std::size_t i = 0; i < work.size(); ++i) {
    if (HasOlderVersion(tree, work[i])) candidates.push_back(i);
  }
  if (candidates.empty()) return plans;
  std::atomic<std::size_t> next{0};
  auto plan_some = [&] {
    // Nothing catches above a thread of the group; a plan it cannot make stays empty.
    try {
      HttpClient client;
      HttpLimits limits;
      limits.deadline = kMapDeadline;
      client.SetLimits(limits);
      client.SetAcceptCompressed(true);
      if (!client.Open(settings.base_url)) return;
      for (std::size_t k = next.fetch_add(1); k < candidates.size() && !cancel.load();
           k = next.fetch_add(1)) {
        // A plan is only a saving: whatever stops one leaves the whole download.
        try {
          plans[candidates[k]] = PlanEntry(client, settings, tree, work[candidates[k]], cancel);
        } catch (const std::exception& e) {
          Log("sin reutilizar bloques de %s: %s", work[candidates[k]].path.c_str(), e.what());
        }
      }
    } catch (...) {
    }
  };
  {
    std::vector<std::jthread> group;
    const std::size_t count = std::min(std::max<std::size_t>(threads, 1), candidates.size());
    for (std::size_t i = 1; i < count; ++i) {
      try {
        group.emplace_back(plan_some);
      } catch (const std::system_error&) {
        break;
      }
    }
    plan_some();
  }
  return plans;
}

}  // namespace brisal

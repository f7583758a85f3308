// .brisal_state.json: any file loads (a bad one as an empty cache), every key it keeps
// is a safe path, and the cache saved after loading loads to the same records.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "client_files/file_state_cache.h"
#include "core/paths.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Records = std::map<std::string, brisal::FileState>;

Records Snapshot(brisal::FileStateCache& cache) {
  Records records;
  brisal::MutexLock guard(cache.lock());
  cache.ForEachPathLocked(
      [&](const std::string& path) { records.emplace(path, *cache.LookupLocked(path)); });
  return records;
}

bool Same(const Records& a, const Records& b) {
  if (a.size() != b.size()) return false;
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
    if (i->first != j->first || i->second.size != j->second.size ||
        i->second.mtime != j->second.mtime || i->second.sha256 != j->second.sha256) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using brisal::fuzz::Require;
  const std::string& folder = brisal::fuzz::ScratchFolder();
  brisal::fuzz::WriteScratchFile(brisal::JoinPath(folder, brisal::kStateFileName), data, size);

  brisal::FileStateCache first;
  first.Load(folder);
  const Records loaded = Snapshot(first);
  for (const auto& [path, state] : loaded) {
    Require(brisal::IsSafeRelativePath(path), "every kept key is a safe path");
  }
  const std::string revision = first.Revision();

  first.Save(folder);
  brisal::FileStateCache second;
  second.Load(folder);
  Require(Same(Snapshot(second), loaded), "a saved cache loads to the same records");
  Require(second.Revision() == revision, "a saved cache keeps its revision");
  return 0;
}

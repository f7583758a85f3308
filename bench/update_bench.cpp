// Timing driver for the update engine's hot paths (built by bench/hash_bench.sh).
//   update_bench hash FILE...      prints "<sha256>  <path>" per file, like sha256sum
//   update_bench manifest N        times ParseManifest over N entries
//   update_bench cache N FOLDER    times FileStateCache Save and Load of N entries in
//                                  FOLDER, and a DOM-built save for comparison
//   update_bench load FOLDER       times Load alone of FOLDER's state file
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "core/files.h"
#include "core/paths.h"
#include "client_files/file_state_cache.h"
#include "client_files/manifest.h"
#include "client_files/sha256.h"

namespace {

using Clock = std::chrono::steady_clock;

// Wall-clock and process CPU time; on a shared machine the CPU time is the steadier
// figure.
struct Stopwatch {
  Clock::time_point wall = Clock::now();
  std::clock_t cpu = std::clock();
  std::string Read() const {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f ms (cpu %.1f ms)",
                  std::chrono::duration<double, std::milli>(Clock::now() - wall).count(),
                  1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
    return text;
  }
};

const std::string kHash = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string SamplePath(std::size_t i) {
  return "data/pack" + std::to_string(i % 97) + "/asset_" + std::to_string(i) + ".bin";
}

int HashFiles(int argc, char** argv) {
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    std::string hex;
    if (brisal::HashFile(argv[i], hex, nullptr)) {
      std::printf("%s  %s\n", hex.c_str(), argv[i]);
    } else {
      std::fprintf(stderr, "cannot hash %s\n", argv[i]);
      status = 1;
    }
  }
  return status;
}

int TimeManifest(std::size_t count) {
  std::string body = R"({"revision":"bench","files":[)";
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) body += ',';
    body += R"({"path":")" + SamplePath(i) + R"(","size":)" + std::to_string(i * 1000) +
            R"(,"sha256":")" + kHash + "\"}";
  }
  body += "]}";
  // The first run pays for fresh heap pages, as the launcher's one parse per check does.
  for (int run = 0; run < 3; ++run) {
    brisal::Manifest manifest;
    brisal::Message error;
    Stopwatch watch;
    bool ok = brisal::ParseManifest(body, manifest, error);
    std::string elapsed = watch.Read();
    if (!ok || manifest.files.size() != count) {
      std::fprintf(stderr, "parse failed: %s\n", brisal::Sentence(error).c_str());
      return 1;
    }
    std::printf("manifest: %zu entries, %.1f MB, parse %s\n", count, body.size() / 1e6,
                elapsed.c_str());
  }
  return 0;
}

int TimeCache(std::size_t count, const std::string& folder) {
  brisal::FileStateCache cache;
  for (std::size_t i = 0; i < count; ++i) {
    cache.Store(SamplePath(i), {i * 1000, 133500000000000000ull + i, kHash});
  }
  cache.SetRevision("bench");
  Stopwatch save_watch;
  cache.Save(folder);
  std::string save_time = save_watch.Read();

  // The same document built as a DOM and printed by the JSON library, for comparison.
  Stopwatch dom_watch;
  nlohmann::json doc = {{"revision", "bench"}, {"files", nlohmann::json::object()}};
  {
    std::lock_guard<std::mutex> guard(cache.lock());
    auto& files = doc["files"];
    cache.ForEachPathLocked([&](const std::string& path) {
      auto state = cache.LookupLocked(path);
      files[path] = {state->size, state->mtime, state->sha256};
    });
  }
  std::string dom_text = doc.dump();
  std::string dom_time = dom_watch.Read();

  std::string saved;
  if (!brisal::ReadWholeFile(brisal::JoinPath(folder, brisal::kStateFileName), saved) ||
      saved != dom_text) {
    std::fprintf(stderr, "saved text differs from the JSON library's\n");
    return 1;
  }

  brisal::FileStateCache loaded;
  Stopwatch load_watch;
  loaded.Load(folder);
  std::string load_time = load_watch.Read();
  if (loaded.Count() != count) {
    std::fprintf(stderr, "loaded %zu of %zu\n", loaded.Count(), count);
    return 1;
  }
  std::printf("cache: %zu entries, %.1f MB\n  save %s\n  DOM + dump alone %s\n  load %s\n", count,
              saved.size() / 1e6, save_time.c_str(), dom_time.c_str(), load_time.c_str());
  return 0;
}

// Only the load, in a fresh process, for profiling.
int TimeLoad(const std::string& folder) {
  brisal::FileStateCache cache;
  Stopwatch watch;
  cache.Load(folder);
  std::printf("load: %zu entries, %s\n", cache.Count(), watch.Read().c_str());
  return 0;
}

}  // namespace

// The price of a durable settings.json: WriteFileAtomic (flush, rename, folder flush)
// against the same temporary-file-and-rename without any flush.
int TimeAtomicWrite(std::size_t count, const std::string& folder) {
  const std::string text(120, 's');
  const std::string path = brisal::JoinPath(folder, "settings.json");
  Stopwatch durable_watch;
  for (std::size_t i = 0; i < count; ++i) {
    if (!brisal::WriteFileAtomic(path, text)) return 1;
  }
  std::string durable = durable_watch.Read();
  Stopwatch plain_watch;
  for (std::size_t i = 0; i < count; ++i) {
    brisal::File file;
    if (!file.Open(path + ".tmp", brisal::File::Mode::kCreateWrite)) return 1;
    if (!file.WriteAll(text.data(), text.size())) return 1;
    file.Close();
    if (brisal::ReplaceFileAt(path + ".tmp", path) != brisal::ReplaceOutcome::kDone) return 1;
  }
  std::string plain = plain_watch.Read();
  std::printf("%zu atomic writes of %zu bytes\n  with flushes    %s\n  without flushes %s\n", count,
              text.size(), durable.c_str(), plain.c_str());
  return 0;
}

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "hash") return HashFiles(argc, argv);
  if (mode == "atomic" && argc == 4) {
    return TimeAtomicWrite(std::strtoull(argv[2], nullptr, 10), argv[3]);
  }
  if (mode == "manifest" && argc == 3) return TimeManifest(std::strtoull(argv[2], nullptr, 10));
  if (mode == "load" && argc == 3) return TimeLoad(argv[2]);
  if (mode == "cache" && argc == 4) return TimeCache(std::strtoull(argv[2], nullptr, 10), argv[3]);
  std::fprintf(stderr,
               "usage: update_bench hash FILE... | manifest N | cache N EXISTING_FOLDER | load "
               "FOLDER | atomic N EXISTING_FOLDER\n");
  return 2;
}

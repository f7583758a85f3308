// brisal-cli manifest: publishes a client folder. Walks it, hashes every file on all
// cores and writes the manifest the launcher reads, sorted by path.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "client_files/manifest.h"
#include "client_files/sha256.h"
#include "core/paths.h"

namespace brisal::cli {

namespace {

namespace fs = std::filesystem;

fs::path FsPath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& path) {
  std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

struct Item {
  std::string relative;  // "/"-separated
  std::string absolute;
  std::uint64_t size = 0;
  std::string sha256;
  bool hashed = false;
};

// The files below `root` that belong in the manifest; false (with the reason printed)
// when one of them could never be installed by the launcher.
bool CollectFiles(const std::string& root, std::vector<Item>& items) {
  std::error_code error;
  fs::recursive_directory_iterator it(FsPath(root), fs::directory_options::none, error);
  if (error) {
    std::fprintf(stderr, "No se pudo leer la carpeta %s: %s\n", root.c_str(),
                 error.message().c_str());
    return false;
  }
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) {
      std::fprintf(stderr, "No se pudo leer la carpeta %s: %s\n", root.c_str(),
                   error.message().c_str());
      return false;
    }
    if (!it->is_regular_file(error)) continue;
    const std::string relative = Utf8(fs::relative(it->path(), FsPath(root), error));
    // The launcher's own files (its state, its lock, leftovers of an interrupted
    // download or write) are never part of a client.
    if (IsLauncherOwnPath(relative)) continue;
    if (!IsSafeRelativePath(relative)) {
      std::fprintf(stderr, "Ruta no permitida en el manifiesto: %s\n", relative.c_str());
      return false;
    }
    Item item;
    item.relative = relative;
    item.absolute = Utf8(it->path());
    item.size = it->file_size(error);
    items.push_back(std::move(item));
  }
  return true;
}

void HashAll(std::vector<Item>& items) {
  std::atomic<std::size_t> next{0};
  // Largest first, so one huge file does not start last and leave the other cores idle.
  std::vector<std::size_t> order(items.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return items[a].size > items[b].size; });
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t workers = std::min<std::size_t>(cores, std::max<std::size_t>(1, items.size()));
  std::vector<std::thread> threads;
  for (std::size_t w = 0; w < workers; ++w) {
    threads.emplace_back([&] {
      for (std::size_t k = next.fetch_add(1); k < order.size(); k = next.fetch_add(1)) {
        Item& item = items[order[k]];
        item.hashed = HashFile(item.absolute, item.sha256, nullptr);
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
}

std::string Quote(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

int RunManifestCommand(const ManifestOptions& options) {
  std::vector<Item> items;
  if (!CollectFiles(options.folder, items)) return kExitFailed;
  HashAll(items);
  for (const Item& item : items) {
    if (!item.hashed) {
      std::fprintf(stderr, "No se pudo leer %s\n", item.absolute.c_str());
      return kExitFailed;
    }
  }
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return a.relative < b.relative; });

  // One entry a line: readable in a diff, and far smaller than an indented DOM dump.
  std::string text = "{\n";
  if (options.has_revision) text += "  \"revision\": " + Quote(options.revision) + ",\n";
  text += "  \"files\": [";
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    text += i == 0 ? "\n" : ",\n";
    text += "    {\"path\": " + Quote(item.relative) + ", \"size\": " + std::to_string(item.size) +
            ", \"sha256\": \"" + item.sha256 + "\"}";
  }
  text += items.empty() ? "]\n}\n" : "\n  ]\n}\n";

  if (options.output.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : kExitFailed;
  }
  if (!WriteFileAtomic(options.output, text)) {
    std::fprintf(stderr, "No se pudo escribir %s\n", options.output.c_str());
    return kExitFailed;
  }
  return 0;
}

}  // namespace brisal::cli

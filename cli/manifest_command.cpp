// brisal-cli manifest: publishes a client folder. Walks it, hashes every file on all
// cores and writes the manifest the launcher reads, sorted by path, with --sign its
// signature beside it and, for every large file, its block map in "blocks/" beside it
// (made in the same read as the hash). brisal-cli keygen makes the key pair that signs.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/private_file.h"
#include "client_files/block_map.h"
#include "client_files/manifest.h"
#include "client_files/sha256.h"
#include "client_files/signature.h"
#include "core/files.h"
#include "core/paths.h"
#include "core/text.h"
#include "update/manifest_trust.h"

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

Message CannotReadFolder(const std::string& root, const std::error_code& error) {
  return Wrap(MessageCode::kCliCannotReadFolder, root,
              Message(MessageCode::kVerbatim, error.message()));
}

struct Item {
  std::string relative;  // "/"-separated
  std::string absolute;
  std::uint64_t size = 0;
  std::string sha256;
  bool hashed = false;
  std::string block_map;  // empty: none wanted
};

// What the command writes itself: never part of the client, even when the output
// lies inside the folder it publishes.
struct OwnOutput {
  fs::path manifest;
  fs::path signature;
  fs::path blocks;

  bool Holds(const fs::path& path) const {
    std::error_code error;
    const fs::path full = fs::weakly_canonical(path, error);
    if (error) return false;
    if (full == manifest || full == signature) return true;
    const auto [end, rest] = std::mismatch(blocks.begin(), blocks.end(), full.begin(), full.end());
    return !blocks.empty() && end == blocks.end();
  }
};

OwnOutput OutputOf(const std::string& output) {
  OwnOutput own;
  if (output.empty()) return own;
  std::error_code error;
  own.manifest = fs::weakly_canonical(FsPath(output), error);
  if (error) return OwnOutput{};
  own.signature = own.manifest;
  own.signature += ".sig";
  own.blocks = own.manifest.parent_path() / "blocks";
  return own;
}

// The files below `root` that belong in the manifest; false (with the reason printed)
// when one of them could never be installed by the launcher.
bool CollectFiles(const std::string& root, const OwnOutput& own, std::vector<Item>& items) {
  std::error_code error;
  fs::recursive_directory_iterator it(FsPath(root), fs::directory_options::none, error);
  if (error) {
    Complain(CannotReadFolder(root, error));
    return false;
  }
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) {
      Complain(CannotReadFolder(root, error));
      return false;
    }
    if (own.Holds(it->path())) {
      if (it->is_directory(error)) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file(error)) continue;
    const std::string relative = Utf8(fs::relative(it->path(), FsPath(root), error));
    // The launcher's own files (its state, its lock, leftovers of an interrupted
    // download or write) are never part of a client.
    if (IsLauncherOwnPath(relative)) continue;
    if (!IsSafeRelativePath(relative)) {
      Complain(Message(MessageCode::kCliPathNotAllowed, relative));
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

// The hash and the block map of a large file, in one read of it.
bool HashAndMap(Item& item, const ChunkLimits& limits) {
  File file;
  if (!file.Open(item.absolute, File::Mode::kRead)) return false;
  Sha256 whole;
  whole.Init();
  BlockMap map;
  map.limits = limits;
  const bool read = ChunkFile(
      file, limits, &whole,
      [&map](const Chunk& chunk) {
        map.chunks.push_back(chunk);
        return true;
      },
      nullptr);
  if (!read || !whole.ok()) return false;
  item.sha256 = whole.FinishHex();
  // The size the manifest states is the size that was read.
  map.file_size = map.chunks.empty() ? 0 : map.chunks.back().offset + map.chunks.back().length;
  item.size = map.file_size;
  map.file_sha256 = item.sha256;
  item.block_map = FormatBlockMap(map);
  return true;
}

// `limits` null: no block maps.
void HashAll(std::vector<Item>& items, const ChunkLimits* limits) {
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
        item.hashed = limits != nullptr && item.size >= kBlockMapMinFileSize
                          ? HashAndMap(item, *limits)
                          : HashFile(item.absolute, item.sha256, nullptr);
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

// The signature of `text` as the launcher fetches it: base64 of r‖s and a newline.
bool SignText(const std::string& key_path, const std::string& text, std::string& sig_text) {
  std::string pem;
  if (!ReadWholeFile(key_path, pem)) {
    Complain(Message(MessageCode::kCliCannotReadPrivateKey, key_path));
    return false;
  }
  std::string signature;
  std::string public_key;
  Message error;
  if (!SignMessage(pem, text, signature, public_key, error)) {
    std::fprintf(stderr, "%s: %s\n", key_path.c_str(), Sentence(error).c_str());
    return false;
  }
  sig_text = EncodeBase64(signature) + "\n";
  // Which key signed, so an operator sees a mismatch with config.json before players do.
  Complain(Message(MessageCode::kCliSignedWith, EncodeBase64(public_key)));
  return true;
}

bool WriteSignedDocument(const std::string& output, const std::string& text,
                         const std::string& sig_text) {
  if (!WriteFileAtomic(output, text)) {
    Complain(Message(MessageCode::kCliCannotWrite, output));
    return false;
  }
  if (!sig_text.empty() && !WriteFileAtomic(output + ".sig", sig_text)) {
    Complain(Message(MessageCode::kCliCannotWrite, output + ".sig"));
    return false;
  }
  return true;
}

namespace {

// Each map is named by its file's digest, so one already published is the same map:
// a republish writes only the new ones, and maps of older releases stay until the
// operator removes them (a launcher still on an older manifest needs none of them).
bool WriteBlockMaps(const std::string& output, const std::vector<Item>& items) {
  const std::string folder = JoinPath(ParentPath(output), "blocks");
  bool made = false;
  for (const Item& item : items) {
    if (item.block_map.empty()) continue;
    if (!made && !EnsureDirectory(folder)) {
      Complain(Message(MessageCode::kCliCannotWrite, folder));
      return false;
    }
    made = true;
    const std::string path = JoinPath(folder, item.sha256);
    std::string existing;
    if (ReadWholeFile(path, existing) && existing == item.block_map) continue;
    if (!WriteFileAtomic(path, item.block_map)) {
      Complain(Message(MessageCode::kCliCannotWrite, path));
      return false;
    }
  }
  return true;
}

}  // namespace

int RunManifestCommand(const ManifestOptions& options) {
  std::vector<Item> items;
  if (!CollectFiles(options.folder, OutputOf(options.output), items)) return kExitFailed;
  const ChunkLimits limits{options.average_chunk / 4, options.average_chunk,
                           options.average_chunk * 4};
  HashAll(items, options.output.empty() ? nullptr : &limits);
  for (const Item& item : items) {
    if (!item.hashed) {
      Complain(Message(MessageCode::kCliCannotRead, item.absolute));
      return kExitFailed;
    }
  }
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return a.relative < b.relative; });

  // One entry a line: readable in a diff, and far smaller than an indented DOM dump.
  std::string text = "{\n";
  if (options.has_revision) text += "  \"revision\": " + Quote(options.revision) + ",\n";
  if (options.has_serial) text += "  \"serial\": " + std::to_string(options.serial) + ",\n";
  if (options.has_expires) {
    const std::int64_t expires = UnixTimeNow() + std::int64_t{86400} * options.expires_days;
    text += "  \"expires\": \"" + FormatUtcTime(expires) + "\",\n";
  }
  text += "  \"files\": [";
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    text += i == 0 ? "\n" : ",\n";
    text += "    {\"path\": " + Quote(item.relative) + ", \"size\": " + std::to_string(item.size) +
            ", \"sha256\": \"" + item.sha256 + "\"}";
  }
  text += items.empty() ? "]\n}\n" : "\n  ]\n}\n";

  std::string sig_text;
  if (!options.sign_key.empty() && !SignText(options.sign_key, text, sig_text)) return kExitFailed;

  if (options.output.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : kExitFailed;
  }
  // Maps first: a launcher that sees the new manifest may ask for them at once.
  if (!WriteBlockMaps(options.output, items)) return kExitFailed;
  if (!WriteSignedDocument(options.output, text, sig_text)) return kExitFailed;
  return 0;
}

int RunKeygenCommand(const std::string& private_key_path) {
  std::string pem;
  std::string public_key;
  Message error;
  if (!GenerateSigningKey(pem, public_key, error)) {
    Complain(error);
    return kExitFailed;
  }
  if (!WriteNewPrivateFile(private_key_path, pem, error)) {
    Complain(Wrap(MessageCode::kCliCannotWritePrivateKey, private_key_path, std::move(error)));
    return kExitFailed;
  }
  Complain(Message(MessageCode::kCliPrivateKeyWritten, private_key_path));
  std::printf("\"manifest_key\": \"%s\"\n", EncodeBase64(public_key).c_str());
  return std::fflush(stdout) == 0 ? 0 : kExitFailed;
}

}  // namespace brisal::cli

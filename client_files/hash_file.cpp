// HashFile and Sha256Hex from sha256.h: portable, over the File interface and whichever Sha256
// backend the target links.
#include <memory>
#include <string>
#include <utility>

#include "core/files.h"
#include "client_files/sha256.h"

namespace brisal {

namespace {

// Big enough that system-call overhead vanishes next to the hashing, small enough
// that a cancel is honoured within a blink.
constexpr std::size_t kHashBlockBytes = 262144;

}  // namespace

bool HashFile(const std::string& path, std::string& hex_out, const std::atomic<bool>* cancel) {
  File file;
  if (!file.Open(path, File::Mode::kRead)) return false;
  Sha256 hasher;
  hasher.Init();
  if (!hasher.ok()) return false;
  // Every byte is overwritten by the read before it is hashed; zero-filling the block
  // would only cost time.
  auto block = std::make_unique_for_overwrite<unsigned char[]>(kHashBlockBytes);
  while (true) {
    // Relaxed is enough: the flag carries no data with it, and a late sighting only
    // costs one more block.
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return false;
    std::int64_t got = file.Read(block.get(), kHashBlockBytes);
    if (got < 0) return false;
    if (got == 0) break;
    hasher.Update(block.get(), static_cast<std::size_t>(got));
  }
  if (!hasher.ok()) return false;
  std::string hex = hasher.FinishHex();
  // 64 zeros is FinishHex's answer when the provider failed to finish; no content
  // hashes to it in practice, and passing it on would report a failure as a digest.
  if (hex.find_first_not_of('0') == std::string::npos) return false;
  hex_out = std::move(hex);
  return true;
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 hasher;
  hasher.Init();
  hasher.Update(bytes.data(), bytes.size());
  if (!hasher.ok()) return {};
  std::string hex = hasher.FinishHex();
  if (hex.find_first_not_of('0') == std::string::npos) return {};
  return hex;
}

}  // namespace brisal

// The block-map reader: whatever it accepts tiles its file exactly, keeps every chunk
// within the limits and the caps, and reads back the same after being written again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "client_files/block_map.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using brisal::fuzz::Require;

// The size a map states (eight bytes after the magic) is what the launcher expects
// from the manifest, so that inputs get past the first comparison.
std::uint64_t StatedSize(const std::string& bytes) {
  std::uint64_t size = 0;
  for (std::size_t i = 0; i < 8 && 8 + i < bytes.size(); ++i)
    size |= std::uint64_t{static_cast<unsigned char>(bytes[8 + i])} << (8 * i);
  return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Every input claims the file whose digest the seeds carry.
  const std::string sha(64, 'a');
  const std::uint64_t file_size = StatedSize(text);
  brisal::BlockMap map;
  std::string why;
  if (!brisal::ParseBlockMap(text, file_size, sha, map, why)) {
    Require(!why.empty(), "a refusal without a reason");
    return 0;
  }
  Require(text.size() <= brisal::BlockMapCap(file_size), "over the cap");
  Require(map.limits.min <= map.limits.avg && map.limits.avg <= map.limits.max,
          "limits out of order");
  Require(map.chunks.size() <= file_size / map.limits.min + 1, "too many chunks");
  std::uint64_t end = 0;
  for (std::size_t i = 0; i < map.chunks.size(); ++i) {
    const brisal::Chunk& chunk = map.chunks[i];
    Require(chunk.offset == end, "chunks not contiguous");
    Require(chunk.length > 0 && chunk.length <= map.limits.max, "chunk over the largest");
    Require(chunk.length >= map.limits.min || i + 1 == map.chunks.size(),
            "short chunk before the end");
    Require(chunk.hash.size() == brisal::kChunkHashHex, "hash of the wrong length");
    end += chunk.length;
  }
  Require(end == file_size, "chunks do not cover the file");
  brisal::BlockMap again;
  Require(brisal::ParseBlockMap(brisal::FormatBlockMap(map), file_size, sha, again, why),
          "a written map is refused");
  Require(again.chunks.size() == map.chunks.size(), "a written map reads differently");
  return 0;
}

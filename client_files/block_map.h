// Block maps: a large file cut into content-defined chunks, each with its offset, length
// and a strong hash, so that a launcher holding an older version of the file can tell
// which pieces it already has. Cut points come from a gear rolling hash with
// normalised chunk sizes, so an insertion or a deletion moves only the cuts near it.
// The operator publishes one map per large file, named by the file's SHA-256; a map is
// only ever a hint: whatever it says, the finished file is checked against the
// manifest.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brisal {

class File;
class Sha256;

struct ChunkLimits {
  std::uint32_t min = 0;
  std::uint32_t avg = 0;  // a power of two
  std::uint32_t max = 0;
};

// What the publisher cuts with, chosen by measurement (bench/delta_bench): a smaller
// average costs a larger map, a larger one more bytes around every edit. A map
// carries its limits, and a launcher cuts its local file with the map's, so these may
// change without breaking older launchers.
inline constexpr ChunkLimits kChunkLimits{4 * 1024, 16 * 1024, 64 * 1024};
// Smaller files are fetched whole: a map would save too little to pay its request.
inline constexpr std::uint64_t kBlockMapMinFileSize = 1024 * 1024;
// Hex digits of a chunk's hash kept in a map: SHA-256 cut to 128 bits.
inline constexpr std::size_t kChunkHashHex = 32;

struct Chunk {
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  std::string hash;  // kChunkHashHex lower-case hex digits
};

struct BlockMap {
  std::uint64_t file_size = 0;
  std::string file_sha256;
  ChunkLimits limits;
  std::vector<Chunk> chunks;
};

// Length of the chunk that starts at `data`: `available` bytes follow it, and
// `available` is all that is left of the file or at least `limits.max`.
std::size_t FindChunkEnd(const unsigned char* data, std::size_t available,
                         const ChunkLimits& limits);

// The chunk's hash as a map holds it.
std::string ChunkHash(const void* data, std::size_t length);

// Reads `file` from its current position to its end once, handing every chunk on in
// order, and feeding every byte to `whole` too when it is not null. A chunk whose
// length `worth_hashing` (may be null: all are) turns down is handed on without a
// hash. False when the file cannot be read, a hash cannot be made, `on_chunk` says
// stop or `cancel` (may be null) is raised.
bool ChunkFile(File& file, const ChunkLimits& limits, Sha256* whole,
               const std::function<bool(const Chunk&)>& on_chunk, const std::atomic<bool>* cancel,
               const std::function<bool(std::uint32_t length)>* worth_hashing = nullptr);

// The chunks of bytes in memory, as ChunkFile would cut them from a file.
std::vector<Chunk> ChunkBytes(std::string_view bytes, const ChunkLimits& limits);

// The published form, compact because a player fetches it before every patch: a
// header (magic, file size, file SHA-256, limits, chunk count), then each chunk's
// length (LEB128) and hash (16 bytes); offsets follow from the lengths.
std::string FormatBlockMap(const BlockMap& map);

// The most a map of a file of `file_size` bytes may weigh.
std::uint64_t BlockMapCap(std::uint64_t file_size);

// Reads a published map for the file of `file_size` bytes and SHA-256 `file_sha256`.
// Anything a map could lie with is refused with the reason in `why`: another file,
// limits out of range, chunks that do not tile the file exactly, lengths out of the
// limits, too many chunks, too many bytes.
bool ParseBlockMap(std::string_view bytes, std::uint64_t file_size, const std::string& file_sha256,
                   BlockMap& map, std::string& why);

}  // namespace brisal

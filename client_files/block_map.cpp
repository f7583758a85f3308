#include "client_files/block_map.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <memory>

#include "client_files/sha256.h"
#include "core/files.h"

namespace brisal {

namespace {

constexpr std::string_view kMagic = "brisal-blocks 1";
// Bounds on limits a map may carry: below them a map outweighs what it saves, above
// them a single chunk costs too much to fetch again.
constexpr std::uint32_t kLeastChunk = 1024;
constexpr std::uint32_t kLargestChunk = 4 * 1024 * 1024;
constexpr std::uint64_t kMaxMapBytes = 64ull * 1024 * 1024;
constexpr std::size_t kReadBlock = 256 * 1024;

// The gear table: 256 fixed pseudo-random words. Publisher and launcher must agree on
// it forever, so it is generated from a constant seed rather than drawn at start.
constexpr std::array<std::uint64_t, 256> MakeGear() {
  std::array<std::uint64_t, 256> table{};
  std::uint64_t state = 0x4272697361614173ull;
  for (std::uint64_t& word : table) {
    state += 0x9e3779b97f4a7c15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    word = z ^ (z >> 31);
  }
  return table;
}
constexpr std::array<std::uint64_t, 256> kGear = MakeGear();

// The high bits of a gear hash depend on the last 64 bytes; the low ones only on the
// last few, so the masks test the top of the word.
constexpr std::uint64_t TopBits(unsigned count) {
  return count == 0 ? 0 : ~std::uint64_t{0} << (64 - count);
}

// A decimal number, then a space, or the end of the line when it is the `last`.
bool TakeNumber(std::string_view& rest, std::uint64_t& value, bool last) {
  const char* first = rest.data();
  const char* end = first + rest.size();
  if (first == end || *first < '0' || *first > '9') return false;
  const auto [stop, error] = std::from_chars(first, end, value);
  if (error != std::errc()) return false;
  rest.remove_prefix(static_cast<std::size_t>(stop - first));
  if (last) return rest.empty();
  if (rest.empty() || rest.front() != ' ') return false;
  rest.remove_prefix(1);
  return true;
}

// "name N…": a line of a name and `count` numbers.
bool ParseNumbers(std::string_view line, std::string_view name, std::uint64_t* values, int count) {
  if (!line.starts_with(name)) return false;
  line.remove_prefix(name.size());
  for (int i = 0; i < count; ++i) {
    if (!TakeNumber(line, values[i], i + 1 == count)) return false;
  }
  return true;
}

bool IsLowerHex(std::string_view text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool TakeLine(std::string_view& rest, std::string_view& line) {
  const std::size_t end = rest.find('\n');
  if (end == std::string_view::npos) return false;
  line = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  return true;
}

bool SaneLimits(const ChunkLimits& limits) {
  return limits.min >= kLeastChunk && limits.min <= limits.avg && limits.avg <= limits.max &&
         limits.max <= kLargestChunk && std::has_single_bit(limits.avg);
}

// "size N", "sha256 H", "limits A B C": the header after the magic line.
bool ParseHeader(std::string_view& rest, BlockMap& map, std::string& why) {
  std::string_view line;
  if (!TakeLine(rest, line) || line != kMagic) return why = "no es un mapa de bloques", false;
  std::string_view size_line;
  std::string_view sha_line;
  std::string_view limits_line;
  if (!TakeLine(rest, size_line) || !TakeLine(rest, sha_line) || !TakeLine(rest, limits_line)) {
    return why = "cabecera incompleta", false;
  }
  if (!ParseNumbers(size_line, "size ", &map.file_size, 1)) return why = "tamaño ilegible", false;
  if (!sha_line.starts_with("sha256 ") || sha_line.size() != 7 + 64 ||
      !IsLowerHex(sha_line.substr(7))) {
    return why = "SHA-256 ilegible", false;
  }
  map.file_sha256 = std::string(sha_line.substr(7));
  std::uint64_t limits[3] = {};
  if (!ParseNumbers(limits_line, "limits ", limits, 3) ||
      std::max({limits[0], limits[1], limits[2]}) > kLargestChunk) {
    return why = "límites ilegibles", false;
  }
  map.limits =
      ChunkLimits{static_cast<std::uint32_t>(limits[0]), static_cast<std::uint32_t>(limits[1]),
                  static_cast<std::uint32_t>(limits[2])};
  if (!SaneLimits(map.limits)) return why = "límites fuera de rango", false;
  return true;
}

// One "offset length hash" line, which must start where the previous chunk ended.
bool ParseChunk(std::string_view rest, const BlockMap& map, Chunk& chunk, std::string& why) {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  if (!TakeNumber(rest, offset, false) || !TakeNumber(rest, length, false) ||
      rest.size() != kChunkHashHex || !IsLowerHex(rest)) {
    return why = "línea de bloque ilegible", false;
  }
  const std::uint64_t expected =
      map.chunks.empty() ? 0 : map.chunks.back().offset + map.chunks.back().length;
  if (offset != expected) return why = "los bloques no son contiguos", false;
  // Only the file's last chunk may be shorter than the least; that it is the last is
  // known once the sum reaches the size.
  if (length == 0 || length > map.limits.max || length > map.file_size - offset ||
      (length < map.limits.min && offset + length != map.file_size)) {
    return why = "longitud de bloque fuera de los límites", false;
  }
  chunk.offset = offset;
  chunk.length = static_cast<std::uint32_t>(length);
  chunk.hash = std::string(rest);
  return true;
}

}  // namespace

std::size_t FindChunkEnd(const unsigned char* data, std::size_t available,
                         const ChunkLimits& limits) {
  if (available <= limits.min) return available;
  const std::size_t end = std::min<std::size_t>(available, limits.max);
  const std::size_t normal = std::min<std::size_t>(end, limits.avg);
  const unsigned bits = static_cast<unsigned>(std::countr_zero(limits.avg));
  // Normalised chunking: harder to cut before the average, easier after, so chunk
  // sizes gather around it.
  const std::uint64_t strict = TopBits(bits + 2);
  const std::uint64_t loose = TopBits(bits > 2 ? bits - 2 : 0);
  std::uint64_t hash = 0;
  std::size_t i = limits.min;
  for (; i < normal; ++i) {
    hash = (hash << 1) + kGear[data[i]];
    if ((hash & strict) == 0) return i + 1;
  }
  for (; i < end; ++i) {
    hash = (hash << 1) + kGear[data[i]];
    if ((hash & loose) == 0) return i + 1;
  }
  return end;
}

std::string ChunkHash(const void* data, std::size_t length) {
  Sha256 hasher;
  hasher.Init();
  hasher.Update(data, length);
  if (!hasher.ok()) return {};
  std::string hex = hasher.FinishHex();
  hex.resize(kChunkHashHex);
  return hex;
}

bool ChunkFile(File& file, const ChunkLimits& limits, Sha256* whole,
               const std::function<bool(const Chunk&)>& on_chunk, const std::atomic<bool>* cancel) {
  // Room for a whole largest chunk after the one being cut, plus one read.
  const std::size_t capacity = std::size_t{limits.max} + kReadBlock;
  auto buffer = std::make_unique_for_overwrite<unsigned char[]>(capacity);
  std::size_t begin = 0;
  std::size_t end = 0;
  bool at_end = false;
  Chunk chunk;
  while (true) {
    while (!at_end && end - begin < limits.max) {
      if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return false;
      if (capacity - end < kReadBlock) {
        std::memmove(buffer.get(), buffer.get() + begin, end - begin);
        end -= begin;
        begin = 0;
      }
      const std::int64_t got = file.Read(buffer.get() + end, capacity - end);
      if (got < 0) return false;
      if (got == 0) at_end = true;
      if (whole != nullptr) whole->Update(buffer.get() + end, static_cast<std::size_t>(got));
      end += static_cast<std::size_t>(got);
    }
    if (begin == end) return true;
    const std::size_t length = FindChunkEnd(buffer.get() + begin, end - begin, limits);
    chunk.length = static_cast<std::uint32_t>(length);
    chunk.hash = ChunkHash(buffer.get() + begin, length);
    if (chunk.hash.empty() || !on_chunk(chunk)) return false;
    chunk.offset += length;
    begin += length;
  }
}

std::vector<Chunk> ChunkBytes(std::string_view bytes, const ChunkLimits& limits) {
  std::vector<Chunk> chunks;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = FindChunkEnd(data + at, bytes.size() - at, limits);
    chunks.push_back(Chunk{at, static_cast<std::uint32_t>(length), ChunkHash(data + at, length)});
    at += length;
  }
  return chunks;
}

std::string FormatBlockMap(const BlockMap& map) {
  std::string text;
  text.reserve(96 + map.chunks.size() * 56);
  text += kMagic;
  text += "\nsize " + std::to_string(map.file_size) + "\nsha256 " + map.file_sha256 + "\nlimits " +
          std::to_string(map.limits.min) + " " + std::to_string(map.limits.avg) + " " +
          std::to_string(map.limits.max) + "\n";
  for (const Chunk& chunk : map.chunks) {
    text += std::to_string(chunk.offset);
    text += ' ';
    text += std::to_string(chunk.length);
    text += ' ';
    text += chunk.hash;
    text += '\n';
  }
  return text;
}

std::uint64_t BlockMapCap(std::uint64_t file_size) {
  // Half a percent of the file, with room for the header.
  return std::min(kMaxMapBytes, file_size / 200 + 4096);
}

bool ParseBlockMap(std::string_view text, std::uint64_t file_size, const std::string& file_sha256,
                   BlockMap& map, std::string& why) {
  map = BlockMap{};
  if (text.size() > BlockMapCap(file_size)) return why = "demasiado grande", false;
  std::string_view rest = text;
  if (!ParseHeader(rest, map, why)) return false;
  if (map.file_size != file_size || map.file_sha256 != file_sha256) {
    return why = "describe otro archivo", false;
  }
  const std::uint64_t most_chunks = file_size / map.limits.min + 1;
  std::string_view line;
  while (TakeLine(rest, line)) {
    if (map.chunks.size() >= most_chunks) return why = "demasiados bloques", false;
    Chunk chunk;
    if (!ParseChunk(line, map, chunk, why)) return false;
    map.chunks.push_back(std::move(chunk));
  }
  if (!rest.empty()) return why = "última línea incompleta", false;
  const std::uint64_t covered =
      map.chunks.empty() ? 0 : map.chunks.back().offset + map.chunks.back().length;
  if (covered != file_size) return why = "los bloques no cubren el archivo", false;
  return true;
}

}  // namespace brisal

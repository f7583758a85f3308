#include "client_files/block_map.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "client_files/sha256.h"
#include "core/files.h"

namespace brisal {

namespace {

// Eight bytes that name the format and its version. The length is spelled out: a
// string_view made from the bare literal would stop at its first zero byte.
constexpr std::string_view kMagic{"BRBLKS\x00\x01", 8};
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

bool SaneLimits(const ChunkLimits& limits) {
  return limits.min >= kLeastChunk && limits.min <= limits.avg && limits.avg <= limits.max &&
         limits.max <= kLargestChunk && std::has_single_bit(limits.avg);
}

void PutLittle(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// Little-endian fields and LEB128 lengths, read without ever passing the end.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}
  bool Little(std::uint64_t& value, int bytes) {
    if (rest_.size() < static_cast<std::size_t>(bytes)) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i)
      value |= std::uint64_t{static_cast<unsigned char>(rest_[i])} << (8 * i);
    rest_.remove_prefix(static_cast<std::size_t>(bytes));
    return true;
  }
  std::size_t Left() const { return rest_.size(); }
  // At most four bytes: no chunk may reach 2^28.
  bool Varint(std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 28; shift += 7) {
      if (rest_.empty()) return false;
      const auto byte = static_cast<unsigned char>(rest_.front());
      rest_.remove_prefix(1);
      value |= std::uint64_t{byte & 0x7fu} << shift;
      if ((byte & 0x80) == 0) return true;
    }
    return false;
  }
  bool Raw(std::size_t length, std::string_view& bytes) {
    if (rest_.size() < length) return false;
    bytes = rest_.substr(0, length);
    rest_.remove_prefix(length);
    return true;
  }
  bool AtEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

std::string ToHex(std::string_view raw) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * raw.size());
  for (char c : raw) {
    hex.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
    hex.push_back(kDigits[static_cast<unsigned char>(c) & 0x0f]);
  }
  return hex;
}

// Hex that came from our own hashing: lower-case digits only.
void PutHex(std::string& out, const std::string& hex) {
  auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
}

// Magic, file size, file digest, limits and the chunk count.
bool ParseHeader(Reader& reader, BlockMap& map, std::uint64_t& count, std::string& why) {
  std::string_view magic;
  std::string_view digest;
  std::uint64_t limits[3] = {};
  if (!reader.Raw(kMagic.size(), magic) || magic != kMagic) {
    return why = "no es un mapa de bloques", false;
  }
  if (!reader.Little(map.file_size, 8) || !reader.Raw(32, digest) || !reader.Little(limits[0], 4) ||
      !reader.Little(limits[1], 4) || !reader.Little(limits[2], 4) || !reader.Little(count, 4)) {
    return why = "cabecera incompleta", false;
  }
  map.file_sha256 = ToHex(digest);
  map.limits =
      ChunkLimits{static_cast<std::uint32_t>(limits[0]), static_cast<std::uint32_t>(limits[1]),
                  static_cast<std::uint32_t>(limits[2])};
  if (!SaneLimits(map.limits)) return why = "límites fuera de rango", false;
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
               const std::function<bool(const Chunk&)>& on_chunk, const std::atomic<bool>* cancel,
               const std::function<bool(std::uint32_t length)>* worth_hashing) {
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
    chunk.hash.clear();
    if (worth_hashing == nullptr || (*worth_hashing)(chunk.length)) {
      chunk.hash = ChunkHash(buffer.get() + begin, length);
      if (chunk.hash.empty()) return false;
    }
    if (!on_chunk(chunk)) return false;
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
  std::string bytes(kMagic);
  bytes.reserve(64 + map.chunks.size() * (3 + kChunkHashHex / 2));
  PutLittle(bytes, map.file_size, 8);
  PutHex(bytes, map.file_sha256);
  PutLittle(bytes, map.limits.min, 4);
  PutLittle(bytes, map.limits.avg, 4);
  PutLittle(bytes, map.limits.max, 4);
  PutLittle(bytes, map.chunks.size(), 4);
  // Offsets are implied: each chunk starts where the one before it ends.
  for (const Chunk& chunk : map.chunks) {
    std::uint64_t length = chunk.length;
    do {
      const auto low = static_cast<unsigned char>(length & 0x7f);
      length >>= 7;
      bytes.push_back(static_cast<char>(length != 0 ? low | 0x80 : low));
    } while (length != 0);
    PutHex(bytes, chunk.hash);
  }
  return bytes;
}

std::uint64_t BlockMapCap(std::uint64_t file_size) {
  // Half a percent of the file, with room for the header.
  return std::min(kMaxMapBytes, file_size / 200 + 4096);
}

bool ParseBlockMap(std::string_view bytes, std::uint64_t file_size, const std::string& file_sha256,
                   BlockMap& map, std::string& why) {
  map = BlockMap{};
  if (bytes.size() > BlockMapCap(file_size)) return why = "demasiado grande", false;
  Reader reader(bytes);
  std::uint64_t count = 0;
  if (!ParseHeader(reader, map, count, why)) return false;
  if (map.file_size != file_size || map.file_sha256 != file_sha256) {
    return why = "describe otro archivo", false;
  }
  if (count > file_size / map.limits.min + 1) return why = "demasiados bloques", false;
  // A huge file's header may promise billions of chunks in a few bytes: room is made
  // only for the chunks the bytes can hold.
  if (count > reader.Left() / (1 + kChunkHashHex / 2)) return why = "bloques incompletos", false;
  map.chunks.reserve(count);
  std::uint64_t offset = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t length = 0;
    std::string_view hash;
    if (!reader.Varint(length) || !reader.Raw(kChunkHashHex / 2, hash)) {
      return why = "bloques incompletos", false;
    }
    // Only the file's last chunk may be shorter than the least.
    if (length == 0 || length > map.limits.max || length > file_size - offset ||
        (length < map.limits.min && offset + length != file_size)) {
      return why = "longitud de bloque fuera de los límites", false;
    }
    map.chunks.push_back(Chunk{offset, static_cast<std::uint32_t>(length), ToHex(hash)});
    offset += length;
  }
  if (!reader.AtEnd()) return why = "datos tras el último bloque", false;
  if (offset != file_size) return why = "los bloques no cubren el archivo", false;
  return true;
}

}  // namespace brisal

#include "client_files/block_map.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

namespace brisal {
namespace {

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes)
    c = static_cast<char>(generator());
  return bytes;
}

// Bytes of `after` in chunks that `before` does not have: what an update would fetch.
std::uint64_t BytesToFetch(const std::string& before, const std::string& after) {
  std::set<std::string> held;
  for (const Chunk& chunk : ChunkBytes(before, kChunkLimits))
    held.insert(chunk.hash);
  std::uint64_t fetch = 0;
  for (const Chunk& chunk : ChunkBytes(after, kChunkLimits))
    fetch += held.count(chunk.hash) != 0 ? 0 : chunk.length;
  return fetch;
}

// An edit costs the chunks it touches and those whose cuts it moves: no more than the
// edit and a largest chunk on either side, wherever it falls.
TEST(BlockMapTest, AnEditCostsOnlyTheChunksAroundIt) {
  const std::string original = RandomBytes(4 << 20, 1);
  const std::string patch = RandomBytes(5000, 2);
  struct Edit {
    const char* name;
    std::string after;
  };
  const Edit edits[] = {
      {"overwritten in place",
       original.substr(0, 1 << 20) + patch + original.substr((1 << 20) + patch.size())},
      {"inserted near the start", original.substr(0, 100000) + patch + original.substr(100000)},
      {"deleted in the middle", original.substr(0, 2 << 20) + original.substr((2 << 20) + 5000)},
      {"appended", original + patch},
  };
  for (const Edit& edit : edits) {
    SCOPED_TRACE(edit.name);
    EXPECT_LE(BytesToFetch(original, edit.after), patch.size() + 2 * kChunkLimits.max);
  }
  // Cuts land around the average, within the limits.
  const std::vector<Chunk> chunks = ChunkBytes(original, kChunkLimits);
  EXPECT_GT(chunks.size(), original.size() / (2 * kChunkLimits.avg));
  EXPECT_LT(chunks.size(), original.size() / (kChunkLimits.avg / 2));
}

// A published map is read back as written, and every lie in one is refused.
TEST(BlockMapTest, OnlyAMapThatTilesItsOwnFileExactlyIsRead) {
  const std::string content = RandomBytes(3 << 20, 3);
  const std::string sha(64, 'a');
  BlockMap written{content.size(), sha, kChunkLimits, ChunkBytes(content, kChunkLimits)};
  const std::string text = FormatBlockMap(written);
  EXPECT_LE(text.size(), content.size() / 200);
  // Maps stay on servers: the format's name and version lead every one.
  EXPECT_EQ(text.substr(0, 8), std::string("BRBLKS\0\1", 8));

  BlockMap read;
  std::string why;
  ASSERT_TRUE(ParseBlockMap(text, content.size(), sha, read, why)) << why;
  ASSERT_EQ(read.chunks.size(), written.chunks.size());
  EXPECT_EQ(read.chunks.back().hash, written.chunks.back().hash);
  EXPECT_EQ(read.chunks.back().offset, written.chunks.back().offset);
  EXPECT_EQ(read.limits.max, kChunkLimits.max);

  auto with = [&](auto change) {
    BlockMap map = written;
    change(map);
    return FormatBlockMap(map);
  };
  const std::uint32_t first = written.chunks[0].length;
  const std::pair<const char*, std::string> lies[] = {
      {"a chunk over the largest", with([](BlockMap& m) {
         while (m.chunks[0].length <= m.limits.max) {
           m.chunks[0].length += m.chunks[1].length;
           m.chunks.erase(m.chunks.begin() + 1);
         }
       })},
      {"a short chunk before the end", with([&](BlockMap& m) {
         m.chunks[0].length = 100;
         m.chunks.insert(m.chunks.begin() + 1, Chunk{100, first - 100, m.chunks[0].hash});
       })},
      {"chunks short of the size", with([](BlockMap& m) { m.chunks.pop_back(); })},
      {"chunks past the size", with([](BlockMap& m) { m.chunks.push_back(m.chunks.back()); })},
      {"another file", with([](BlockMap& m) { m.file_sha256 = std::string(64, 'b'); })},
      {"limits out of range", with([](BlockMap& m) { m.limits.avg = 60000; })},
      {"a cut last chunk", text.substr(0, text.size() - 1)},
      {"bytes after the last chunk", text + "x"},
      {"more than the cap", text + std::string(content.size() / 200, 'x')},
  };
  for (const auto& [name, lie] : lies) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(ParseBlockMap(lie, content.size(), sha, read, why));
  }
}

}  // namespace
}  // namespace brisal

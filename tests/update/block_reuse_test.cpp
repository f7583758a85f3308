#include "update/block_reuse.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "client_files/block_map.h"
#include "tests/update/engine_fixture.h"

namespace brisal::testing {
namespace {

constexpr std::size_t kSize = 3 << 20;

class BlockReuseTest : public EngineTest {
 protected:
  BlockReuseTest() : old_(MakeContent(kSize, 1)), new_(old_) {
    // Two changes far apart: two ranges to fetch, everything else to copy.
    new_.replace(500000, 6000, MakeContent(6000, 2));
    new_.replace(2500000, 6000, MakeContent(6000, 3));
  }

  void InstallOld() {
    Publish({{"data.pak", old_}}, "r1", "\"m1\"");
    Check();
    Update();
    ASSERT_TRUE(Installed("data.pak") == old_) << Status();
  }

  // The new release with `map` (its true block map when empty) beside the manifest.
  void PublishNew(std::string map = {}) {
    Publish({{"data.pak", new_}}, "r2", "\"m2\"");
    if (map.empty()) map = FormatBlockMap(TrueMap());
    server_.AddFile("/brisal/blocks/" + Sha256Of(new_), map);
  }

  BlockMap TrueMap() const {
    return BlockMap{new_.size(), Sha256Of(new_), kChunkLimits, ChunkBytes(new_, kChunkLimits)};
  }

  // The Range headers of the requests for the file since request number `from`.
  std::vector<std::string> RangesAsked(std::size_t from = 0) const {
    std::vector<std::string> ranges;
    const std::vector<HttpTestRequest> requests = server_.Requests();
    for (std::size_t i = from; i < requests.size(); ++i) {
      if (requests[i].target == "/brisal/client/data.pak") {
        ranges.push_back(requests[i].Header("Range"));
      }
    }
    return ranges;
  }

  // Serves the new file itself, calling `before` with each range's start first; a
  // range `before` refuses gets a 503.
  void ServeRanges(std::function<bool(std::uint64_t from)> before) {
    server_.SetHandler("/brisal/client/data.pak", [this, before](const HttpTestRequest& request) {
      const std::string range = request.Header("Range");
      if (range.empty()) return HttpTestResponse::WithStatus(200, new_);
      const std::size_t dash = range.find('-');
      const std::uint64_t from = std::stoull(range.substr(6, dash - 6));
      const std::uint64_t last = std::stoull(range.substr(dash + 1));
      if (!before(from)) return HttpTestResponse::WithStatus(503);
      HttpTestResponse response =
          HttpTestResponse::WithStatus(206, new_.substr(from, last - from + 1));
      response.headers.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-" +
                                                         std::to_string(last) + "/" +
                                                         std::to_string(new_.size()));
      return response;
    });
  }

  // What changed, with a largest chunk on either side of each change.
  static constexpr std::uint64_t kMostToFetch = 2 * (6000 + 2 * kChunkLimits.max);

  std::string old_;
  std::string new_;
};

TEST_F(BlockReuseTest, AChangedFileFetchesOnlyTheChunksItLacks) {
  InstallOld();
  PublishNew();
  Check();
  const std::uint64_t sent_before = server_.BodyBytesSent();
  Update();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  EXPECT_TRUE(Installed("data.pak") == new_);

  const std::vector<std::string> ranges = RangesAsked();
  const std::uint64_t fetched =
      server_.BodyBytesSent() - sent_before - FormatBlockMap(TrueMap()).size();
  EXPECT_LE(fetched, kMostToFetch);
  // The old install's one request, then one ranged request per change.
  ASSERT_EQ(ranges.size(), 3u);
  EXPECT_NE(ranges[1], "");
  EXPECT_NE(ranges[2], "");
  // The totals are what crossed the wire; the rest is what the old file spared.
  EXPECT_EQ(state_.progress.bytes_done.load(), fetched);
  EXPECT_EQ(state_.progress.bytes_total.load(), fetched);
  EXPECT_EQ(state_.progress.bytes_spared.load(), new_.size() - fetched);
}

// Whatever the old file or the map says, the file ends as published, at worst after
// one more attempt that fetches it whole.
TEST_F(BlockReuseTest, NeitherAnOldFileChangingNorALyingMapCostsMoreThanTime) {
  struct Case {
    const char* name;
    std::function<std::string()> map;  // null: the true map
    bool damage_old_during_update;
    std::size_t ranged_requests;  // for the file, in the update
    bool then_whole;              // a last request without a range
  };
  const Case cases[] = {
      // Between the cut and the copy: the chunk is fetched beside the two changes.
      {"a chunk of the old file changed on disk", nullptr, true, 3, false},
      {"a map that does not tile the file",
       [this] {
         BlockMap map = TrueMap();
         map.chunks.pop_back();
         return FormatBlockMap(map);
       },
       false, 0, true},
      // Tiles the file and names only chunks the old file holds: the file built from
      // it fails its hash, and the next attempt trusts only the server.
      {"a map that describes the old file",
       [this] {
         BlockMap map = TrueMap();
         map.chunks = ChunkBytes(old_, kChunkLimits);
         return FormatBlockMap(map);
       },
       false, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_.SetHandler("/brisal/client/data.pak", nullptr);
    InstallOld();
    PublishNew(c.map ? c.map() : std::string());
    if (c.damage_old_during_update) {
      ServeRanges([this](std::uint64_t) {
        std::fstream file(InstallPath("data.pak"), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(1500000);
        file.put('\x5a');
        return true;
      });
    }
    const std::size_t requests_before = server_.Requests().size();
    Check();
    Update();
    ASSERT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
    EXPECT_TRUE(Installed("data.pak") == new_);
    std::vector<std::string> ranges = RangesAsked(requests_before);
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(ranges.back().empty(), c.then_whole);
    if (c.then_whole) ranges.pop_back();
    EXPECT_EQ(std::count_if(ranges.begin(), ranges.end(),
                            [](const std::string& range) { return !range.empty(); }),
              static_cast<std::ptrdiff_t>(c.ranged_requests));
  }
}

TEST_F(BlockReuseTest, AnInterruptedUpdateResumesWithoutFetchingWhatItHolds) {
  InstallOld();
  PublishNew();
  // The second change's range never comes: the update is stopped there.
  ServeRanges([this](std::uint64_t from) {
    if (from < 1000000) return true;
    state_.jobs.cancel.store(true);
    return false;
  });
  Check();
  Update();
  const std::uint64_t held = ReadFile(InstallPath("data.pak" + std::string(kPartialSuffix))).size();
  EXPECT_GT(held, 500000u + 6000u);
  EXPECT_TRUE(Installed("data.pak") == old_);  // playable until the move

  server_.SetHandler("/brisal/client/data.pak", nullptr);
  state_.jobs.downloads_held = false;  // the player asks again
  const std::size_t requests_before = server_.Requests().size();
  Check();
  Update();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  EXPECT_TRUE(Installed("data.pak") == new_);
  const std::vector<std::string> ranges = RangesAsked(requests_before);
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].rfind("bytes=" + std::to_string(held) + "-", 0), 0u) << ranges[0];
}

}  // namespace
}  // namespace brisal::testing

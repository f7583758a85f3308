#include "client_files/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace brisal {
namespace {

using testing::TempDir;

// FIPS 180-4 example digests.
const std::string kEmptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string kAbcDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kTwoBlockInput = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kTwoBlockDigest =
    "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
const std::string kMillionADigest =
    "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

constexpr std::size_t kBlock = 262144;

// Bytes that differ from block to block, so a lost, repeated or reordered block
// changes the digest. Digests below were computed independently (Python hashlib).
std::string Pattern(std::size_t length) {
  std::string data(length, '\0');
  for (std::size_t i = 0; i < length; ++i)
    data[i] = static_cast<char>((i * 131 + (i >> 8)) & 0xff);
  return data;
}
const std::string kPatternOneBlockDigest =
    "aa6c4df16e991fb2816bc295405d1193bd0b58637aefff3c29b91349f55cb990";
const std::string kPatternThreeBlocksAndTailDigest =
    "3cade221ca52e84ba5a6223dfc9a4e3e84e35b339d342f70f84d17d37c421240";

std::string OneShot(const std::string& data) {
  Sha256 sha;
  sha.Init();
  EXPECT_TRUE(sha.ok());
  sha.Update(data.data(), data.size());
  return sha.FinishHex();
}

TEST(Sha256, KnownVectors) {
  EXPECT_EQ(OneShot(""), kEmptyDigest);
  EXPECT_EQ(OneShot("abc"), kAbcDigest);
  EXPECT_EQ(OneShot(kTwoBlockInput), kTwoBlockDigest);
  EXPECT_EQ(OneShot(std::string(1000000, 'a')), kMillionADigest);
}

TEST(Sha256, IncrementalFeedingEqualsOneShot) {
  const std::string data = Pattern(100000);
  const std::string expected = OneShot(data);
  for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 4096u, 65536u}) {
    Sha256 sha;
    sha.Init();
    for (std::size_t at = 0; at < data.size(); at += piece) {
      sha.Update(data.data() + at, std::min(piece, data.size() - at));
      sha.Update(data.data(), 0);  // empty chunks change nothing
    }
    EXPECT_EQ(sha.FinishHex(), expected) << "piece " << piece;
  }
}

TEST(Sha256, InitRestartsAndFinishEndsTheComputation) {
  Sha256 sha;
  sha.Init();
  sha.Update("partial download", 16);
  sha.Init();  // a server sent the whole file again: start over
  sha.Update("abc", 3);
  EXPECT_EQ(sha.FinishHex(), kAbcDigest);
  // A finished computation cannot be fed; it says so instead of handing out garbage.
  EXPECT_FALSE(sha.ok());
  sha.Init();
  EXPECT_TRUE(sha.ok());
  EXPECT_EQ(sha.FinishHex(), kEmptyDigest);
}

TEST(Sha256, UninitialisedObjectIsNotOkAndFinishesToZeros) {
  Sha256 sha;
  EXPECT_FALSE(sha.ok());
  sha.Update("abc", 3);
  EXPECT_EQ(sha.FinishHex(), std::string(64, '0'));
}

TEST(Sha256, ConcurrentComputationsShareTheProvider) {
  std::vector<std::string> results(8);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&results, t] {
      Sha256 sha;
      for (int round = 0; round < 50; ++round) {
        sha.Init();
        sha.Update(kTwoBlockInput.data(), kTwoBlockInput.size());
        results[t] = sha.FinishHex();
        if (results[t] != kTwoBlockDigest) return;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  for (const auto& result : results)
    EXPECT_EQ(result, kTwoBlockDigest);
}

TEST(HashFile, HashesWholeFilesAcrossBlockBoundaries) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string data;
    std::string digest;
  };
  const Case cases[] = {
      {"empty", "", kEmptyDigest},
      {"abc", "abc", kAbcDigest},
      {"one-block", Pattern(kBlock), kPatternOneBlockDigest},
      {"three-blocks-and-tail", Pattern(3 * kBlock + 12345), kPatternThreeBlocksAndTailDigest},
      {"million-a", std::string(1000000, 'a'), kMillionADigest},
  };
  for (const auto& c : cases) {
    const std::string path = dir.Sub(c.name);
    testing::WriteFile(path, c.data);
    std::string hex;
    EXPECT_TRUE(HashFile(path, hex, nullptr)) << c.name;
    EXPECT_EQ(hex, c.digest) << c.name;
  }
}

TEST(HashFile, UnreadableTargetsFailAndLeaveTheOutputAlone) {
  TempDir dir;
  std::string hex = "untouched";
  EXPECT_FALSE(HashFile(dir.Sub("missing.bin"), hex, nullptr));
  EXPECT_FALSE(HashFile(dir.Sub("no/such/folder/a.bin"), hex, nullptr));
  EXPECT_FALSE(HashFile(dir.path(), hex, nullptr));
  EXPECT_EQ(hex, "untouched");
}

TEST(HashFile, CancelBeforeTheCallFailsWithoutOutput) {
  TempDir dir;
  const std::string path = dir.Sub("a.bin");
  testing::WriteFile(path, "abc");
  std::atomic<bool> cancel{true};
  std::string hex = "untouched";
  EXPECT_FALSE(HashFile(path, hex, &cancel));
  EXPECT_EQ(hex, "untouched");

  // Also an empty file: the flag is tested before the read that would find the end.
  testing::WriteFile(dir.Sub("empty"), "");
  EXPECT_FALSE(HashFile(dir.Sub("empty"), hex, &cancel));
  EXPECT_EQ(hex, "untouched");

  cancel = false;
  EXPECT_TRUE(HashFile(path, hex, &cancel));
  EXPECT_EQ(hex, kAbcDigest);
}

}  // namespace
}  // namespace brisal

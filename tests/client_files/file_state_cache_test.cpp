#include "client_files/file_state_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/paths.h"
#include "tests/support/temp_dir.h"

namespace brisal {
namespace {

using testing::TempDir;

const std::string kHashA(64, 'a');
const std::string kHashB(64, 'b');

std::string StatePath(const std::string& folder) {
  return JoinPath(folder, kStateFileName);
}

// Writes `text` as the state file of `dir` and loads it.
void LoadText(FileStateCache& cache, const TempDir& dir, const std::string& text) {
  testing::WriteFile(StatePath(dir.path()), text);
  cache.Load(dir.path());
}

void ExpectState(FileStateCache& cache, const std::string& path, std::uint64_t size,
                 std::uint64_t mtime, const std::string& sha256) {
  auto state = cache.Lookup(path);
  ASSERT_TRUE(state.has_value()) << path;
  EXPECT_EQ(state->size, size) << path;
  EXPECT_EQ(state->mtime, mtime) << path;
  EXPECT_EQ(state->sha256, sha256) << path;
}

TEST(FileStateCache, MissingFileLoadsEmptyAndLoadHappensOncePerFolder) {
  TempDir dir;
  FileStateCache cache;
  cache.Load(dir.path());
  EXPECT_EQ(cache.Count(), 0u);
  EXPECT_EQ(cache.Revision(), "");

  // Already loaded: a file appearing later is not read, and memory is not discarded.
  cache.Store("kept.bin", {1, 2, kHashA});
  testing::WriteFile(StatePath(dir.path()),
                     R"({"files":{"other.bin":[1,2,")" + kHashB + R"("]},"revision":"r"})");
  cache.Load(dir.path());
  EXPECT_EQ(cache.Count(), 1u);
  EXPECT_TRUE(cache.Lookup("kept.bin").has_value());
  EXPECT_EQ(cache.Revision(), "");
}

TEST(FileStateCache, UnsetFolderNeitherReadsNorWritesTheCurrentFolder) {
  TempDir dir;
  const std::string state = R"({"files":{"a.bin":[1,2,"h"]},"revision":"r"})";
  testing::WriteFile(StatePath(dir.path()), state);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(dir.path().data()), dir.path().size())));
  FileStateCache cache;
  cache.Load("");
  cache.Store("b.bin", {1, 2, kHashA});
  cache.Save("");
  std::filesystem::current_path(previous);
  EXPECT_EQ(cache.Count(), 1u);
  EXPECT_EQ(cache.Revision(), "");
  EXPECT_EQ(testing::ReadFile(StatePath(dir.path())), state);
}

TEST(FileStateCache, UnusableFilesLoadEmpty) {
  const std::string good_member = R"("a.bin":[1,2,")" + kHashA + R"("])";
  const std::vector<std::string> texts = {
      "", "not json", "[]", "\"text\"", "null", "42",
      // Cut short after a good member: nothing of it may be trusted.
      R"({"files":{)" + good_member, R"({"files":{)" + good_member + "}",
      R"([{"files":{)" + good_member + R"(}}])",
      // Whole, then followed by something that is not JSON.
      R"({"files":{)" + good_member + R"(},"revision":"r"} x)"};
  for (const auto& text : texts) {
    TempDir dir;
    FileStateCache cache;
    LoadText(cache, dir, text);
    EXPECT_EQ(cache.Count(), 0u) << text;
    EXPECT_EQ(cache.Revision(), "") << text;
  }
}

TEST(FileStateCache, AFileIsReadUpToExactlyTheWholeFileReadLimit) {
  // Valid JSON padded with trailing blanks to the limit, then to one byte over it.
  const std::string text = R"({"files":{"a.bin":[1,2,")" + kHashA + R"("]},"revision":"r"})";
  for (const std::uint64_t size : {kReadWholeFileLimit, kReadWholeFileLimit + 1}) {
    TempDir dir;
    {
      std::ofstream out(std::filesystem::path(std::u8string(
                            reinterpret_cast<const char8_t*>(StatePath(dir.path()).data()),
                            StatePath(dir.path()).size())),
                        std::ios::binary);
      out << text;
      const std::string blanks(1 << 20, ' ');
      std::uint64_t left = size - text.size();
      while (left > 0) {
        const std::size_t n =
            left < blanks.size() ? static_cast<std::size_t>(left) : blanks.size();
        out.write(blanks.data(), static_cast<std::streamsize>(n));
        left -= n;
      }
      ASSERT_TRUE(out.good());
    }
    FileStateCache cache;
    cache.Load(dir.path());
    const bool within = size <= kReadWholeFileLimit;
    EXPECT_EQ(cache.Count(), within ? 1u : 0u) << size;
    EXPECT_EQ(cache.Revision(), within ? "r" : "") << size;
  }
}

TEST(FileStateCache, MalformedMembersAreSkippedAndTheOthersLoad) {
  TempDir dir;
  FileStateCache cache;
  const std::string members =
      R"("two-elements":[10,20],"four-elements":[10,20,"h","x"],"negative-size":[-1,20,"h"],)"
      R"("negative-time":[1,-20,"h"],"fraction-size":[1.5,20,"h"],"exponent-time":[1,2e3,"h"],)"
      R"("string-size":["1",20,"h"],"number-hash":[1,20,5],"null":null,)"
      R"("object":{"size":1,"mtime":2,"sha256":"h"},)";
  LoadText(cache, dir,
           R"({"revision":"r9","files":{"good/one.bin":[10,20,")" + kHashA + R"("],)" + members +
               R"("good/two.bin":[0,18446744073709551615,"not validated"]}})");
  EXPECT_EQ(cache.Count(), 2u);
  ExpectState(cache, "good/one.bin", 10, 20, kHashA);
  ExpectState(cache, "good/two.bin", 0, 18446744073709551615ull, "not validated");
  EXPECT_EQ(cache.Revision(), "r9");
}

TEST(FileStateCache, MistypedTopLevelMembersMeanNothingKnown) {
  const std::vector<std::string> mistyped_revision = {
      R"({"revision":7,"files":{"a.bin":[1,2,"h"]}})",
      R"({"revision":null,"files":{"a.bin":[1,2,"h"]}})", R"({"files":{"a.bin":[1,2,"h"]}})"};
  for (const auto& text : mistyped_revision) {
    TempDir dir;
    FileStateCache cache;
    EXPECT_NO_THROW(LoadText(cache, dir, text)) << text;
    EXPECT_EQ(cache.Revision(), "") << text;
    EXPECT_EQ(cache.Count(), 1u) << text;
  }
  const std::vector<std::string> mistyped_files = {
      R"({"revision":"r","files":[["a.bin",1,2,"h"]]})", R"({"revision":"r","files":"a.bin"})",
      R"({"revision":"r"})"};
  for (const auto& text : mistyped_files) {
    TempDir dir;
    FileStateCache cache;
    LoadText(cache, dir, text);
    EXPECT_EQ(cache.Revision(), "r") << text;
    EXPECT_EQ(cache.Count(), 0u) << text;
  }
}

TEST(FileStateCache, RepeatedKeysFollowTheLastOccurrence) {
  struct Case {
    std::string text;
    std::size_t count;
    std::string revision;
  };
  const std::vector<Case> cases = {
      // A malformed repeat removes the good member before it; a good repeat replaces.
      {R"({"files":{"a.bin":[1,2,"h"],"a.bin":[1]},"revision":"r"})", 0, "r"},
      {R"({"files":{"a.bin":[1],"a.bin":[3,4,"h"]},"revision":"r"})", 1, "r"},
      {R"({"files":{"a.bin":[1,2,"h"]},"files":{"b.bin":[1,2,"h"]}})", 1, ""},
      {R"({"files":{"a.bin":[1,2,"h"]},"files":[]})", 0, ""},
      {R"({"revision":"x","revision":5,"files":{"a.bin":[1,2,"h"]}})", 1, ""},
      {R"({"revision":5,"revision":"x"})", 0, "x"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    FileStateCache cache;
    LoadText(cache, dir, c.text);
    EXPECT_EQ(cache.Count(), c.count) << c.text;
    EXPECT_EQ(cache.Revision(), c.revision) << c.text;
  }
  TempDir dir;
  FileStateCache cache;
  LoadText(cache, dir, R"({"files":{"a.bin":[1],"a.bin":[3,4,"h"]}})");
  ExpectState(cache, "a.bin", 3, 4, "h");
}

TEST(FileStateCache, OnlyMembersOfTheTopLevelFilesObjectCount) {
  TempDir dir;
  FileStateCache cache;
  LoadText(cache, dir,
           R"({"other":{"files":{"nested.bin":[1,2,"h"]},"revision":"no"},)"
           R"("files":{"deep.bin":[[1],2,"h"],"obj.bin":{"a.bin":[1,2,"h"]},"ok.bin":[5,6,"h"]},)"
           R"("revision":"yes"})");
  EXPECT_EQ(cache.Count(), 1u);
  ExpectState(cache, "ok.bin", 5, 6, "h");
  EXPECT_EQ(cache.Revision(), "yes");
}

// The obsolete-file scan deletes what the cache lists; a hand-edited state file must
// not be able to point it outside the install folder.
TEST(FileStateCache, KeysThatCouldLeaveTheInstallFolderAreDropped) {
  TempDir dir;
  FileStateCache cache;
  nlohmann::json doc = {{"revision", "r"}, {"files", nlohmann::json::object()}};
  const std::vector<std::string> unsafe = {"../outside.dll",
                                           "data/../../x",
                                           "/etc/passwd",
                                           "C:/Windows/win.ini",
                                           "C:\\x",
                                           "\\\\server\\share\\x",
                                           "data//x",
                                           "data/",
                                           "",
                                           ".",
                                           "a\x01",
                                           "nul.",
                                           "x "};
  for (const auto& key : unsafe)
    doc["files"][key] = {1, 2, kHashA};
  doc["files"]["data/ok.bin"] = {3, 4, kHashB};
  LoadText(cache, dir, doc.dump());
  EXPECT_EQ(cache.Count(), 1u);
  ExpectState(cache, "data/ok.bin", 3, 4, kHashB);
  std::vector<std::string> listed;
  MutexLock guard(cache.lock());
  cache.ForEachPathLocked([&listed](const std::string& path) { listed.push_back(path); });
  EXPECT_EQ(listed, std::vector<std::string>{"data/ok.bin"});
}

TEST(FileStateCache, SaveWritesOneCompactLineWithSortedKeys) {
  TempDir dir;
  FileStateCache cache;
  cache.Store("b.bin", {2, 132000000000000000ull, kHashB});
  cache.Store("B.bin", {0, 0, kHashA});
  cache.Store("a/z.bin", {18446744073709551615ull, 5, kHashA});
  cache.Store("a.bin", {1, 1, kHashA});
  cache.SetRevision("2024-05-01");
  cache.Save(dir.path());
  EXPECT_EQ(testing::ReadFile(StatePath(dir.path())),
            R"({"files":{"B.bin":[0,0,")" + kHashA + R"("],"a.bin":[1,1,")" + kHashA +
                R"("],"a/z.bin":[18446744073709551615,5,")" + kHashA +
                R"("],"b.bin":[2,132000000000000000,")" + kHashB +
                R"("]},"revision":"2024-05-01"})");
  EXPECT_FALSE(FileExists(StatePath(dir.path()) + ".tmp"));

  FileStateCache empty;
  empty.Save(dir.path());
  EXPECT_EQ(testing::ReadFile(StatePath(dir.path())), R"({"files":{},"revision":""})");
}

// Whatever the keys hold, the file must be exactly what the JSON library prints for
// the same document, so escaping and key order can never drift from it.
TEST(FileStateCache, SaveMatchesTheJsonLibraryForAwkwardText) {
  TempDir dir;
  FileStateCache cache;
  nlohmann::json expected = {{"revision", "rev \"7\" \\ \xC3\xB1\n"},
                             {"files", nlohmann::json::object()}};
  const std::vector<std::string> keys = {"plain.bin",
                                         "quote\"d",
                                         "back\\slash",
                                         "tab\there",
                                         "ctl\x01\x1f",
                                         "del\x7f",
                                         "m\xC3\xBAsica/\xC3\xB1.ogg",
                                         "\xC3\xA9",
                                         "z",
                                         "Z",
                                         "emoji \xF0\x9F\x98\x80",
                                         "slash/and/more",
                                         "~tilde"};
  std::uint64_t n = 1;
  for (const auto& key : keys) {
    cache.Store(key, {n, n * 1000, kHashA});
    expected["files"][key] = {n, n * 1000, kHashA};
    ++n;
  }
  cache.SetRevision(expected["revision"].get<std::string>());
  cache.Save(dir.path());
  EXPECT_EQ(testing::ReadFile(StatePath(dir.path())), expected.dump());
}

TEST(FileStateCache, TextThatIsNotUtf8IsLeftOutInsteadOfBreakingTheSave) {
  TempDir dir;
  FileStateCache cache;
  cache.Store("bad\xff.bin", {1, 1, kHashA});
  cache.Store("good.bin", {2, 2, kHashB});
  cache.Store("hash-bad.bin", {3, 3, "\xfe"});
  cache.SetRevision("r\xc3");
  EXPECT_NO_THROW(cache.Save(dir.path()));
  EXPECT_EQ(testing::ReadFile(StatePath(dir.path())),
            R"({"files":{"good.bin":[2,2,")" + kHashB + R"("]},"revision":""})");
}

TEST(FileStateCache, SavedStateLoadsBackEntryForEntry) {
  TempDir dir;
  FileStateCache saved;
  constexpr std::uint64_t kCount = 5000;
  for (std::uint64_t i = 0; i < kCount; ++i) {
    saved.Store("data/f" + std::to_string(i) + "/\xC3\xB1.bin",
                {i * 7919, 133000000000000000ull + i, std::to_string(i) + kHashA});
  }
  saved.Store("top.bin", {18446744073709551615ull, 18446744073709551615ull, kHashB});
  saved.SetRevision("build 42");
  saved.Save(dir.path());

  FileStateCache loaded;
  loaded.Load(dir.path());
  ASSERT_EQ(loaded.Count(), kCount + 1);
  EXPECT_EQ(loaded.Revision(), "build 42");
  for (std::uint64_t i = 0; i < kCount; i += 37) {
    ExpectState(loaded, "data/f" + std::to_string(i) + "/\xC3\xB1.bin", i * 7919,
                133000000000000000ull + i, std::to_string(i) + kHashA);
  }
  ExpectState(loaded, "top.bin", 18446744073709551615ull, 18446744073709551615ull, kHashB);
}

TEST(FileStateCache, SaveNeverCreatesTheInstallFolder) {
  TempDir dir;
  const std::string game = dir.Sub("game");
  ASSERT_TRUE(EnsureDirectory(game));
  FileStateCache cache;
  cache.Load(game);
  cache.Store("a.bin", {1, 2, kHashA});
  ASSERT_TRUE(RemoveEmptyDirectory(game));  // the player deleted the folder meanwhile
  cache.Save(game);
  EXPECT_FALSE(IsDirectory(game));
  EXPECT_FALSE(FileExists(game));

  // A file where the folder should be is not a folder either.
  testing::WriteFile(game, "not a folder");
  cache.Save(game);
  EXPECT_EQ(testing::ReadFile(game), "not a folder");
  EXPECT_EQ(cache.Count(), 1u);
}

TEST(FileStateCache, ResetThenLoadReadsTheNewFolder) {
  TempDir first, second;
  testing::WriteFile(StatePath(first.path()),
                     R"({"files":{"old.bin":[1,2,")" + kHashA + R"("]},"revision":"old"})");
  testing::WriteFile(StatePath(second.path()),
                     R"({"files":{"new.bin":[3,4,")" + kHashB + R"("]},"revision":"new"})");
  FileStateCache cache;
  cache.Load(first.path());
  ExpectState(cache, "old.bin", 1, 2, kHashA);

  cache.Reset();
  EXPECT_EQ(cache.Count(), 0u);
  EXPECT_EQ(cache.Revision(), "");
  cache.Load(second.path());
  EXPECT_EQ(cache.Count(), 1u);
  EXPECT_FALSE(cache.Lookup("old.bin").has_value());
  ExpectState(cache, "new.bin", 3, 4, kHashB);
  EXPECT_EQ(cache.Revision(), "new");
}

TEST(FileStateCache, KeysAreExactBytesAndStoreEraseWorkOnThem) {
  TempDir dir;
  FileStateCache cache;
  cache.Store("Data/File.bin", {1, 1, kHashA});
  cache.Store("data/file.bin", {2, 2, kHashB});
  EXPECT_EQ(cache.Count(), 2u);
  EXPECT_FALSE(cache.Lookup("DATA/FILE.BIN").has_value());
  EXPECT_FALSE(cache.Lookup("data\\file.bin").has_value());

  cache.Store("data/file.bin", {3, 3, kHashA});  // replaces
  ExpectState(cache, "data/file.bin", 3, 3, kHashA);
  cache.Save(dir.path());

  FileStateCache loaded;
  loaded.Load(dir.path());
  EXPECT_EQ(loaded.Count(), 2u);
  ExpectState(loaded, "Data/File.bin", 1, 1, kHashA);
  ExpectState(loaded, "data/file.bin", 3, 3, kHashA);
  loaded.Erase("DATA/FILE.BIN");  // no such key: nothing happens
  EXPECT_EQ(loaded.Count(), 2u);
  loaded.Erase("Data/File.bin");
  EXPECT_EQ(loaded.Count(), 1u);
  EXPECT_FALSE(loaded.Lookup("Data/File.bin").has_value());
}

}  // namespace
}  // namespace brisal

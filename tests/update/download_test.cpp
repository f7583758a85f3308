#include "update/download.h"
#include "update/download_sources.h"

#include <gtest/gtest.h>

#include "core/files.h"
#include "core/install_tree.h"
#include "net/http_client.h"
#include "tests/update/engine_fixture.h"
#include "tests/update/replace_blocker.h"

namespace brisal::testing {
namespace {

class DownloadTest : public EngineTest {
 protected:
  DownloadTest() {
    ApplyPendingSettings(state_);
    EXPECT_TRUE(client_.Open(state_.plan.live.base_url));
  }

  // One attempt at `path` of the published client; remembers the message and the
  // bytes the attempt counted.
  bool Attempt(const std::string& path) {
    ManifestEntry entry = EntryFor(path);
    EntryPaths paths = PathsForEntry(entry);
    InstallTree(state_.plan.live.install_dir).CreateParents(paths.target);
    attempt_bytes_ = 0;
    error_ = {};
    DownloadSources sources(state_.plan.live.base_url, {});
    const DownloadContext context{state_.plan.live,   state_.cache,       state_.progress,
                                  state_.jobs.cancel, sources,            state_.jobs.retry_pause,
                                  state_.jobs.download_limit};
    return DownloadFile(context, client_, entry, paths, state_.progress.slots[0], attempt_bytes_,
                        error_);
  }

  ManifestEntry EntryFor(const std::string& path) {
    for (const ManifestEntry& entry : manifest_.files) {
      if (entry.path == path) return entry;
    }
    ADD_FAILURE() << "not published: " << path;
    return {};
  }

  std::string Partial(const std::string& path) { return InstallPath(path) + ".bpart"; }
  std::uint64_t SizeOf(const std::string& local) {
    FileInfo info;
    return GetFileInfo(local, info) ? info.size : ~0ULL;
  }
  std::vector<HttpTestRequest> FileRequests(const std::string& path) {
    std::vector<HttpTestRequest> found;
    for (const auto& request : server_.Requests()) {
      if (request.target == "/brisal/client/" + path) found.push_back(request);
    }
    return found;
  }

  HttpClient client_;
  Manifest manifest_;
  std::uint64_t attempt_bytes_ = 0;
  Message error_;
};

const std::string kBig = MakeContent(300000, 7);

TEST_F(DownloadTest, FreshDownloadIsVerifiedMovedAndRecorded) {
  manifest_ = Publish({{"data/mapa.pak", kBig}});
  ASSERT_TRUE(Attempt("data/mapa.pak")) << Sentence(error_);
  EXPECT_TRUE(Installed("data/mapa.pak") == kBig);
  EXPECT_FALSE(FileExists(Partial("data/mapa.pak")));
  EXPECT_EQ(attempt_bytes_, kBig.size());
  EXPECT_EQ(state_.progress.bytes_done.load(), kBig.size());
  EXPECT_EQ(state_.progress.slots[0].file_done.load(), kBig.size());
  auto recorded = state_.cache.Lookup("data/mapa.pak");
  ASSERT_TRUE(recorded);
  EXPECT_EQ(recorded->sha256, Sha256Of(kBig));
  EXPECT_EQ(recorded->size, kBig.size());
  EXPECT_FALSE(FileRequests("data/mapa.pak")[0].HasHeader("Range"));
}

TEST_F(DownloadTest, InterruptedBodyIsResumedWithARange) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  server_.SetHandler("/brisal/client/mapa.pak", [](const HttpTestRequest&) {
    HttpTestResponse response = HttpTestResponse::WithStatus(200, kBig);
    response.cut_after = 100000;
    return response;
  });
  EXPECT_FALSE(Attempt("mapa.pak"));
  EXPECT_EQ(error_,
            Message(MessageCode::kDownloadNetworkError, "mapa.pak", http_error::kConnectionError));
  EXPECT_EQ(SizeOf(Partial("mapa.pak")), 100000u);

  server_.SetHandler("/brisal/client/mapa.pak", nullptr);  // back to serving the file
  state_.progress.bytes_done.store(0);
  ASSERT_TRUE(Attempt("mapa.pak")) << Sentence(error_);
  EXPECT_EQ(FileRequests("mapa.pak").back().Header("Range"), "bytes=100000-");
  EXPECT_TRUE(Installed("mapa.pak") == kBig);
  EXPECT_EQ(attempt_bytes_, kBig.size());  // the resumed prefix counts once
}

TEST_F(DownloadTest, ShortBodyWithoutNetworkErrorIsIncompleteAndKept) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  server_.SetHandler("/brisal/client/mapa.pak", [](const HttpTestRequest&) {
    return HttpTestResponse::WithStatus(200, kBig.substr(0, 5000));
  });
  EXPECT_FALSE(Attempt("mapa.pak"));
  EXPECT_EQ(error_, Message(MessageCode::kDownloadIncomplete, "mapa.pak"));
  EXPECT_EQ(SizeOf(Partial("mapa.pak")), 5000u);
  EXPECT_FALSE(FileExists(InstallPath("mapa.pak")));
}

TEST_F(DownloadTest, ServerIgnoringTheRangeRestartsFromZero) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  WriteFile(Partial("mapa.pak"), kBig.substr(0, 120000));
  server_.SetIgnoreRange(true);
  state_.progress.bytes_done.store(0);
  ASSERT_TRUE(Attempt("mapa.pak")) << Sentence(error_);
  EXPECT_EQ(FileRequests("mapa.pak").back().Header("Range"), "bytes=120000-");
  EXPECT_TRUE(Installed("mapa.pak") == kBig);
  // The prefix was counted, then taken back when the whole file came instead.
  EXPECT_EQ(attempt_bytes_, kBig.size());
  EXPECT_EQ(state_.progress.bytes_done.load(), kBig.size());
}

TEST_F(DownloadTest, RangeNotSatisfiableDeletesThePartialFile) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  WriteFile(Partial("mapa.pak"), "xyz");
  server_.SetHandler("/brisal/client/mapa.pak",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(416); });
  EXPECT_FALSE(Attempt("mapa.pak"));
  EXPECT_EQ(error_, Message(MessageCode::kDownloadHttpStatus, "mapa.pak", 416));
  EXPECT_FALSE(FileExists(Partial("mapa.pak")));
}

TEST_F(DownloadTest, OtherStatusesKeepThePartialFile) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  WriteFile(Partial("mapa.pak"), kBig.substr(0, 10));
  server_.SetHandler("/brisal/client/mapa.pak",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(404); });
  EXPECT_FALSE(Attempt("mapa.pak"));
  EXPECT_EQ(error_, Message(MessageCode::kDownloadHttpStatus, "mapa.pak", 404));
  EXPECT_EQ(SizeOf(Partial("mapa.pak")), 10u);
}

TEST_F(DownloadTest, OversizedBodyStopsBeforeWritingAndDeletes) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  server_.SetHandler("/brisal/client/mapa.pak", [](const HttpTestRequest&) {
    return HttpTestResponse::WithStatus(200, kBig + "!");
  });
  EXPECT_FALSE(Attempt("mapa.pak"));
  EXPECT_EQ(error_, Message(MessageCode::kServerFileTooLarge, "mapa.pak"));
  EXPECT_FALSE(FileExists(Partial("mapa.pak")));
  EXPECT_FALSE(FileExists(InstallPath("mapa.pak")));
  EXPECT_LE(attempt_bytes_, kBig.size());
}

TEST_F(DownloadTest, HashMismatchDeletesThePartialFile) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  std::string changed = kBig;
  changed[1234] ^= 1;
  server_.AddFile("/brisal/client/mapa.pak", changed);
  Install("mapa.pak", "old version");
  EXPECT_FALSE(Attempt("mapa.pak"));
  EXPECT_EQ(error_, Message(MessageCode::kHashMismatch, "mapa.pak"));
  EXPECT_FALSE(FileExists(Partial("mapa.pak")));
  EXPECT_EQ(Installed("mapa.pak"), "old version");
}

TEST_F(DownloadTest, EmptyEntriesAndCompletePartialsNeedNoRequest) {
  manifest_ = Publish({{"vacio.txt", ""}, {"listo.pak", kBig}});
  WriteFile(Partial("listo.pak"), kBig);
  const std::size_t before = server_.Requests().size();
  ASSERT_TRUE(Attempt("vacio.txt")) << Sentence(error_);
  ASSERT_TRUE(Attempt("listo.pak")) << Sentence(error_);
  EXPECT_EQ(server_.Requests().size(), before);
  EXPECT_EQ(Installed("vacio.txt"), "");
  EXPECT_TRUE(Installed("listo.pak") == kBig);
}

TEST_F(DownloadTest, PartialLongerThanTheEntryStartsOver) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  WriteFile(Partial("mapa.pak"), kBig + "basura");
  ASSERT_TRUE(Attempt("mapa.pak")) << Sentence(error_);
  EXPECT_FALSE(FileRequests("mapa.pak").back().HasHeader("Range"));
  EXPECT_TRUE(Installed("mapa.pak") == kBig);
}

TEST_F(DownloadTest, FolderInPlaceOfThePartialFileCannotBeWritten) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  ASSERT_TRUE(EnsureDirectory(Partial("mapa.pak")));
  EXPECT_FALSE(Attempt("mapa.pak"));
  EXPECT_EQ(error_, Message(MessageCode::kCannotWrite, "mapa.pak"));
}

TEST_F(DownloadTest, ReadOnlyTargetIsReplaced) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  Install("mapa.pak", "old");
  MakeReadOnly(InstallPath("mapa.pak"));
  ASSERT_TRUE(Attempt("mapa.pak")) << Sentence(error_);
  EXPECT_TRUE(Installed("mapa.pak") == kBig);
}

TEST_F(DownloadTest, TargetThatCannotBeReplacedKeepsTheVerifiedPartial) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  Install("mapa.pak", "in use");
  ReplaceBlocker blocker(InstallPath("mapa.pak"));
  if (!blocker.active()) GTEST_SKIP() << "this file system cannot pin a file";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Attempt("mapa.pak"));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(error_, Message(MessageCode::kCannotReplace, "mapa.pak"));
  // Ten tries, 400 ms apart.
  EXPECT_GE(elapsed, std::chrono::milliseconds(3900));
  EXPECT_EQ(SizeOf(Partial("mapa.pak")), kBig.size());
  blocker.Release();

  // The next attempt only verifies and moves it.
  const std::size_t before = server_.Requests().size();
  ASSERT_TRUE(Attempt("mapa.pak")) << Sentence(error_);
  EXPECT_EQ(server_.Requests().size(), before);
  EXPECT_TRUE(Installed("mapa.pak") == kBig);
}

// While the game holds the target, something else takes the verified file's name: what
// the next replace try would move is not what was hashed.
TEST_F(DownloadTest, OnlyTheVerifiedFileIsEverMovedIntoPlace) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  Install("mapa.pak", "in use");
  ReplaceBlocker blocker(InstallPath("mapa.pak"));
  if (!blocker.active()) GTEST_SKIP() << "this file system cannot pin a file";
  std::thread swapper([&] {
    while (state_.progress.slots[0].file_done.load() < kBig.size())
      std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // among the replace tries
    WriteFile(InstallPath("impostor"), std::string(kBig.size(), 'x'));
    ReplaceFileAt(InstallPath("impostor"), Partial("mapa.pak"));
    blocker.Release();
  });
  EXPECT_FALSE(Attempt("mapa.pak"));
  swapper.join();
  EXPECT_EQ(error_, Message(MessageCode::kChangedOnDisk, "mapa.pak"));
  EXPECT_EQ(Installed("mapa.pak"), "in use");
  EXPECT_FALSE(state_.cache.Lookup("mapa.pak"));
}

TEST_F(DownloadTest, CancelDuringTheBodyKeepsWhatArrived) {
  manifest_ = Publish({{"mapa.pak", kBig}});
  server_.SetHandler("/brisal/client/mapa.pak", [this](const HttpTestRequest&) {
    HttpTestResponse response = HttpTestResponse::WithStatus(200, kBig);
    response.stall_at = 65536;
    response.stall_for = std::chrono::milliseconds(0);
    state_.jobs.cancel.store(false);
    return response;
  });
  std::thread canceller([this] {
    while (state_.progress.slots[0].file_done.load() < 65536)
      std::this_thread::yield();
    state_.jobs.cancel.store(true);
  });
  EXPECT_FALSE(Attempt("mapa.pak"));
  canceller.join();
  server_.ReleaseStalls();
  EXPECT_TRUE(error_.empty());
  EXPECT_EQ(SizeOf(Partial("mapa.pak")), 65536u);
}

}  // namespace
}  // namespace brisal::testing

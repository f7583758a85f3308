#include "shared_state/launcher_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <stdexcept>
#include <thread>

#include "core/paths.h"
#include "tests/support/temp_dir.h"

namespace brisal {
namespace {

using namespace std::chrono_literals;

// Waits for a condition that another thread makes true; fails after a generous limit
// instead of hanging the suite.
template <typename Predicate>
bool Eventually(Predicate predicate) {
  for (int i = 0; i < 1000; ++i) {
    if (predicate()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return predicate();
}

TEST(SetPhase, NotifiesOnlyWhenPhaseOrTextChange) {
  LauncherState state;
  SetPhase(state, UpdatePhase::kChecking);  // no notifier yet: state changes silently
  EXPECT_EQ(CurrentPhase(state), UpdatePhase::kChecking);

  std::atomic<int> posts{0};
  state.notify = [&] { ++posts; };
  SetPhase(state, UpdatePhase::kChecking);
  EXPECT_EQ(posts.load(), 0);
  SetPhase(state, UpdatePhase::kChecking, Message(MessageCode::kVerbatim, "otro texto"));
  EXPECT_EQ(posts.load(), 1);
  EXPECT_EQ(StatusText(state), "otro texto");
  SetPhase(state, UpdatePhase::kUpToDate, Message(MessageCode::kVerbatim, "otro texto"));
  EXPECT_EQ(posts.load(), 2);
}

TEST(SetPhase, OnlyConcludedPhasesSettle) {
  LauncherState state;
  SetPhase(state, UpdatePhase::kUpToDate);
  for (UpdatePhase busy :
       {UpdatePhase::kChecking, UpdatePhase::kVerifying, UpdatePhase::kDownloading}) {
    SetPhase(state, busy);
    EXPECT_EQ(state.board.settled_phase.load(), UpdatePhase::kUpToDate);
  }
  SetPhase(state, UpdatePhase::kFailed, Message(MessageCode::kVerbatim, "x"));
  EXPECT_EQ(state.board.settled_phase.load(), UpdatePhase::kFailed);
}

TEST(ApplyPendingSettings, ResetsOnlyWhatTheChangeInvalidates) {
  LauncherState state;
  JobSettings first{"http://a/", "m.json", "client/", "news.json", 3, "/games/a", {}, false, {}};
  HandOverSettings(state, first);
  ApplyPendingSettings(state);
  EXPECT_EQ(state.plan.live.install_dir, "/games/a");

  auto prime = [&] {
    state.plan.have_manifest = true;
    state.plan.manifest_etag = "\"e1\"";
    state.cache.Store("a.bin", FileState{1, 2, std::string(64, 'a')});
  };

  prime();
  JobSettings news_only = first;
  news_only.news = "otras.json";
  news_only.connections = 8;
  HandOverSettings(state, news_only);
  ApplyPendingSettings(state);
  EXPECT_TRUE(state.plan.have_manifest);
  EXPECT_EQ(state.plan.manifest_etag, "\"e1\"");
  EXPECT_EQ(state.cache.Count(), 1u);
  EXPECT_EQ(state.plan.live.connections, 8);

  JobSettings server = news_only;
  server.base_url = "http://b/";
  HandOverSettings(state, server);
  ApplyPendingSettings(state);
  EXPECT_FALSE(state.plan.have_manifest);
  EXPECT_EQ(state.plan.manifest_etag, "");
  EXPECT_EQ(state.cache.Count(), 1u);

  prime();
  JobSettings folder = server;
  folder.install_dir = "/games/b";
  HandOverSettings(state, folder);
  ApplyPendingSettings(state);
  EXPECT_FALSE(state.plan.have_manifest);
  EXPECT_EQ(state.cache.Count(), 0u);

  // A manifest taken under another key (or none) must be fetched and judged again.
  prime();
  JobSettings keyed = folder;
  keyed.manifest_keys = {"k"};
  HandOverSettings(state, keyed);
  ApplyPendingSettings(state);
  EXPECT_FALSE(state.plan.have_manifest);
  EXPECT_EQ(state.cache.Count(), 1u);

  // Nothing pending: nothing happens.
  prime();
  ApplyPendingSettings(state);
  EXPECT_TRUE(state.plan.have_manifest);
}

TEST(TakeSnapshot, ShowsTheLargestBusySlotClamped) {
  LauncherState state;
  EXPECT_EQ(TakeSnapshot(state).file_path, "");
  auto fill = [&](int i, std::uint64_t size, std::uint64_t done, const char* path) {
    state.progress.slots[i].file_size.store(size);
    state.progress.slots[i].file_done.store(done);
    MutexLock guard(state.progress.slots[i].lock);
    state.progress.slots[i].file_path = path;
  };
  fill(0, 10000000, 5, "a.bin");
  fill(1, 50000000, 7, "b.bin");
  fill(2, 50000000, 9, "c.bin");
  state.progress.bytes_total.store(110000000);
  state.progress.bytes_done.store(21);
  ProgressSnapshot snapshot = TakeSnapshot(state);
  EXPECT_EQ(snapshot.file_path, "b.bin");
  EXPECT_EQ(snapshot.file_done, 7u);
  EXPECT_EQ(snapshot.bytes_total, 110000000u);
  EXPECT_EQ(snapshot.bytes_done, 21u);

  fill(1, 50000000, 60000000, "b.bin");
  EXPECT_EQ(TakeSnapshot(state).file_done, 50000000u);
}

class JobTest : public ::testing::Test {
 protected:
  void SetUp() override { OverrideDataFolder(dir_.path()); }
  std::string LogText() { return testing::ReadFile(JoinPath(dir_.path(), "launcher.log")); }
  testing::TempDir dir_;
};

TEST_F(JobTest, ExclusiveJobsNeverOverlapAndEachClearsCancel) {
  LauncherState state;
  std::atomic<int> running{0};
  std::atomic<int> max_running{0};
  std::atomic<int> finished{0};
  std::atomic<int> saw_cancel{0};
  constexpr int kJobs = 6;
  for (int i = 0; i < kJobs; ++i) {
    StartJob(state, JobKind::kExclusive, [&] {
      int now = ++running;
      int seen = max_running.load();
      while (now > seen && !max_running.compare_exchange_weak(seen, now)) {
      }
      if (state.jobs.cancel.load()) ++saw_cancel;
      std::this_thread::sleep_for(5ms);
      state.jobs.cancel.store(true);  // a cancel meant for this job only
      --running;
      ++finished;
    });
  }
  // Every job is counted from its start until it has ended, waiting ones included.
  EXPECT_GE(state.jobs.exclusive_jobs.load(), 1);
  ASSERT_TRUE(Eventually([&] { return finished.load() == kJobs; }));
  ASSERT_TRUE(Eventually([&] { return state.jobs.exclusive_jobs.load() == 0; }));
  // Job threads are detached; the last one is done with the state once it has let go
  // of the job lock.
  { MutexLock wait_for_last(state.plan.job_lock); }
  EXPECT_EQ(max_running.load(), 1);
  EXPECT_EQ(saw_cancel.load(), 0);
}

TEST_F(JobTest, ConcurrentJobRunsBesideAnExclusiveOne) {
  LauncherState state;
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::atomic<bool> exclusive_done{false};
  std::atomic<bool> concurrent_ran{false};
  StartJob(state, JobKind::kExclusive, [&] {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return release; });
    lock.unlock();  // the test may tear `m` down as soon as it sees the flag
    exclusive_done = true;
  });
  StartJob(state, JobKind::kConcurrent, [&] { concurrent_ran = true; });
  EXPECT_TRUE(Eventually([&] { return concurrent_ran.load(); }));
  EXPECT_FALSE(exclusive_done.load());
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  EXPECT_TRUE(Eventually([&] { return exclusive_done.load(); }));
  { MutexLock wait_for_job(state.plan.job_lock); }
}

TEST_F(JobTest, EscapedExceptionsAreLoggedAndShownOnlyForExclusiveJobs) {
  LauncherState state;
  RunJobWrapped(state, JobKind::kConcurrent, [] { throw std::runtime_error("fallo de noticias"); });
  EXPECT_EQ(CurrentPhase(state), UpdatePhase::kStarting);
  EXPECT_NE(LogText().find("  excepcion en hilo: fallo de noticias\r\n"), std::string::npos);

  RunJobWrapped(state, JobKind::kExclusive, [] { throw std::runtime_error("roto"); });
  EXPECT_EQ(CurrentPhase(state), UpdatePhase::kFailed);
  EXPECT_EQ(StatusText(state), "Error interno: roto");

  RunJobWrapped(state, JobKind::kExclusive, [] { throw 42; });
  EXPECT_EQ(StatusText(state), "Error interno inesperado");
  EXPECT_NE(LogText().find("  excepcion desconocida en hilo\r\n"), std::string::npos);

  // The job lock was released on the way out: the next exclusive job runs.
  bool ran = false;
  RunJobWrapped(state, JobKind::kExclusive, [&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(CopyNews, CopiesUnderTheLockWhileAWriterReplacesTheList) {
  LauncherState state;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000 && !stop; ++i) {
      std::vector<NewsItem> items(static_cast<std::size_t>(i % 8 + 1), NewsItem{"t", "x", "", ""});
      MutexLock guard(state.board.lock);
      state.board.news = std::move(items);
    }
  });
  for (int i = 0; i < 2000; ++i) {
    std::vector<NewsItem> copy = CopyNews(state);
    ASSERT_LE(copy.size(), 8u);
    for (const NewsItem& item : copy)
      ASSERT_EQ(item.title, "x");
  }
  stop = true;
  writer.join();
}

}  // namespace
}  // namespace brisal

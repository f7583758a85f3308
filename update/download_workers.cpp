#include "update/download_workers.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <string>
#include <system_error>
#include <thread>

#include "client_files/file_state_cache.h"
#include "core/mutex.h"
#include "net/http_client.h"
#include "shared_state/launcher_state.h"
#include "update/download_sources.h"

namespace brisal {

namespace {

constexpr std::uint32_t kSaveEvery = 150;

// What the workers of one update share.
class DownloadQueue {
 public:
  DownloadQueue(const DownloadContext& context, const std::vector<ManifestEntry>& work,
                const std::vector<ReusePlan>& plans)
      : context_(context), work_(work), plans_(plans) {}

  void Work(WorkerSlot& slot) EXCLUDES(lock_) {
    // Nothing catches above a worker's own thread: what escapes would end the process.
    // It ends the update as a failure instead, as the job wrapper does for a job.
    try {
      DownloadFiles(slot);
    } catch (const std::exception& e) {
      RecordFailure(Message(MessageCode::kInternalError, e.what()));
    } catch (...) {
      RecordFailure(Message(MessageCode::kInternalUnexpected));
    }
    {
      MutexLock guard(lock_);
      --running_;
    }
    wake_.notify_one();
  }

  void Enlist() EXCLUDES(lock_) {
    MutexLock guard(lock_);
    ++running_;
  }
  void Withdraw() EXCLUDES(lock_) {
    MutexLock guard(lock_);
    --running_;
  }

  // The periodic saves, made on the calling thread until every worker has ended.
  void SaveWhileRunning() EXCLUDES(lock_) {
    MutexLock guard(lock_);
    while (true) {
      while (!save_asked_ && running_ != 0)
        wake_.wait(guard);
      if (!save_asked_) return;
      save_asked_ = false;
      guard.unlock();
      context_.cache.Save(context_.settings.install_dir);
      guard.lock();
    }
  }

  void RecordFailure(const Message& message) EXCLUDES(lock_) {
    MutexLock guard(lock_);
    if (!failed_.load()) {
      first_error_ = message;
      failed_.store(true);
    }
  }

  Message FirstError() EXCLUDES(lock_) {
    MutexLock guard(lock_);
    return first_error_;
  }

 private:
  void DownloadFiles(WorkerSlot& slot) {
    SourceClients clients(context_.sources);
    if (clients.For(0) == nullptr) {
      RecordFailure(Message(MessageCode::kBadBaseUrl));
      return;
    }
    if (failed_.load()) return;
    Message error;
    while (!context_.cancel.load()) {
      const std::uint64_t k = next_index_.fetch_add(1);
      if (k >= work_.size()) return;
      error = {};
      const ReusePlan* plan = k < plans_.size() ? &plans_[k] : nullptr;
      if (!DownloadWithRetries(context_, clients, work_[k], slot, error, plan)) {
        if (!context_.cancel.load()) RecordFailure(error);
        return;
      }
      const std::uint32_t finished = context_.progress.files_done.fetch_add(1) + 1;
      if (finished % kSaveEvery == 0) AskForSave();
      if (failed_.load()) return;
    }
  }

  void AskForSave() EXCLUDES(lock_) {
    {
      MutexLock guard(lock_);
      save_asked_ = true;
    }
    wake_.notify_one();
  }

  const DownloadContext& context_;
  const std::vector<ManifestEntry>& work_;  // read-only while workers run
  const std::vector<ReusePlan>& plans_;     // likewise
  std::atomic<std::uint64_t> next_index_{0};
  // Read without the lock to stop early; written under it together with first_error_.
  std::atomic<bool> failed_{false};
  Mutex lock_;
  std::condition_variable_any wake_;
  Message first_error_ GUARDED_BY(lock_);
  bool save_asked_ GUARDED_BY(lock_) = false;
  std::size_t running_ GUARDED_BY(lock_) = 0;  // workers not ended yet
};

}  // namespace

Message DownloadAll(const DownloadContext& context, const std::vector<ManifestEntry>& work,
                    const std::vector<ReusePlan>& plans, std::size_t workers,
                    WorkerSlot* slots) {
  DownloadQueue queue(context, work, plans);
  {
    // Declared after the queue, so the workers are joined before it goes, whatever way
    // this returns.
    std::vector<std::jthread> threads;
    threads.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i) {
      queue.Enlist();
      try {
        threads.emplace_back([&queue, slot = &slots[i]] { queue.Work(*slot); });
      } catch (const std::system_error&) {
        queue.Withdraw();
        // Out of threads: the ones already running carry the work on their own.
        if (threads.empty()) queue.RecordFailure(Message(MessageCode::kCannotStartDownload));
        break;
      }
    }
    queue.SaveWhileRunning();
  }
  return queue.FirstError();
}

}  // namespace brisal

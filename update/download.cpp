#include "update/download.h"

#include <chrono>
#include <thread>
#include <vector>

#include "client_files/file_state_cache.h"
#include "client_files/sha256.h"
#include "core/files.h"
#include "core/install_tree.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/rate_limit.h"
#include "net/http_client.h"
#include "net/retry_timing.h"
#include "shared_state/launcher_state.h"
#include "update/block_reuse.h"
#include "update/download_sources.h"

namespace brisal {

namespace {

constexpr int kAttempts = 3;
constexpr std::size_t kRehashBlock = 262144;
constexpr int kReplaceTries = 10;
constexpr auto kReplacePause = std::chrono::milliseconds(400);
constexpr auto kWaitSlice = std::chrono::milliseconds(100);

// Re-reads the first `offset` bytes of the partial file into the hasher. False when
// the prefix cannot be read back whole.
bool HashPrefix(File& file, std::uint64_t offset, Sha256& hasher) {
  std::vector<char> buffer(kRehashBlock);
  std::uint64_t remaining = offset;
  while (remaining > 0) {
    std::size_t want =
        remaining < kRehashBlock ? static_cast<std::size_t>(remaining) : kRehashBlock;
    std::int64_t got = file.Read(buffer.data(), want);
    if (got <= 0) return false;
    hasher.Update(buffer.data(), static_cast<std::size_t>(got));
    remaining -= static_cast<std::uint64_t>(got);
  }
  return true;
}

// Empties the partial file and restarts the hash from nothing.
bool StartOver(File& file, Sha256& hasher) {
  hasher.Init();
  return file.Seek(0) && file.TruncateHere();
}

// Sleeps `pause` in slices of at most 100 ms, returning early when a cancel arrives.
void WaitUnlessCancelled(const std::atomic<bool>& cancel, std::chrono::milliseconds pause) {
  while (pause.count() > 0 && !cancel.load()) {
    const auto slice = std::min<std::chrono::milliseconds>(pause, kWaitSlice);
    std::this_thread::sleep_for(slice);
    pause -= slice;
  }
}

// One attempt at one file. Every stage returns false to end the attempt, with the
// reason in `error_`, or with none when a cancel ended it.
class FileDownload {
 public:
  FileDownload(const DownloadContext& context, HttpClient& client, const ManifestEntry& entry,
               const EntryPaths& paths, WorkerSlot& slot, std::uint64_t& attempt_bytes,
               Message& error, const ReusePlan* plan)
      : context_(context),
        client_(client),
        entry_(entry),
        paths_(paths),
        slot_(slot),
        attempt_bytes_(attempt_bytes),
        error_(error),
        plan_(plan != nullptr && !plan->empty() ? plan : nullptr),
        tree_(context.settings.install_dir) {}

  bool Run() { return OpenPartial() && Fill() && Verify() && Seal() && Place() && Record(); }

 private:
  bool Fail(MessageCode code, std::uint64_t number = 0) {
    error_ = Message(code, entry_.path, number);
    return false;
  }
  // The partial file goes too: what it holds can never become the entry.
  bool Discard(MessageCode code, std::uint64_t number = 0) {
    file_.Close();
    tree_.RemoveFile(paths_.partial);
    return Fail(code, number);
  }
  void Count(std::uint64_t bytes) {
    context_.progress.bytes_done.fetch_add(bytes);
    attempt_bytes_ += bytes;
  }
  void Uncount(std::uint64_t bytes) {
    context_.progress.bytes_done.fetch_sub(bytes);
    attempt_bytes_ -= bytes;
  }

  // Resumes from whatever a previous attempt or run left behind; a stale partial file
  // longer than the entry, or one whose start cannot be read back, is started over.
  bool OpenPartial() {
    const TreeResult opened = tree_.OpenPartial(paths_.partial, file_);
    if (opened == TreeResult::kLink) return Fail(MessageCode::kThroughLink);
    if (opened != TreeResult::kDone) return Fail(MessageCode::kCannotWrite);
    if (!file_.Size(offset_) || offset_ > entry_.size) offset_ = 0;
    hasher_.Init();
    if (!hasher_.ok()) return Fail(MessageCode::kHashInitFailed);
    // A file that cannot be cut back could keep stale bytes past what is written next.
    if (offset_ == 0 || !HashPrefix(file_, offset_, hasher_)) {
      offset_ = 0;
      if (!StartOver(file_, hasher_)) return Fail(MessageCode::kCannotWrite);
    }
    // Counted once more after a failed attempt gave its bytes back. With a plan, only
    // what the prefix took from the server counts: the totals are what crosses the wire.
    Count(plan_ != nullptr ? plan_->FetchBytesBefore(offset_) : offset_);
    slot_.file_done.store(offset_);
    return true;
  }

  bool OnResponse(const HttpResult& response, bool ranged) {
    if (response.status == 206) return true;
    if (response.status != 200) return false;
    if (ranged) {
      // The server ignored the range and sends the whole file: everything this attempt
      // counted comes again, and what the old file would have spared crosses the wire.
      Uncount(attempt_bytes_);
      if (plan_ != nullptr) {
        context_.progress.bytes_total.fetch_add(entry_.size - plan_->FetchBytesFrom(0));
      }
      offset_ = 0;
      written_ = 0;
      range_end_ = entry_.size;
      whole_body_ = true;
      slot_.file_done.store(0);
      if (!StartOver(file_, hasher_)) {
        write_failed_ = true;
        return false;
      }
    }
    return true;
  }

  bool OnData(const char* data, std::uint32_t length) {
    if (offset_ + written_ + length > range_end_) {
      too_large_ = true;
      return false;
    }
    // A cancel during the wait ends the transfer; Fill sees the flag and reports none.
    if (!context_.limit.Take(length, context_.cancel)) return false;
    if (file_.Write(data, length) != static_cast<std::int64_t>(length)) {
      write_failed_ = true;
      return false;
    }
    hasher_.Update(data, length);
    written_ += length;
    Count(length);
    slot_.file_done.store(offset_ + written_);
    return true;
  }

  // Fetches what the partial file lacks into it.
  bool Fill() {
    if (offset_ >= entry_.size) return true;
    if (plan_ != nullptr) return FillByPlan();
    return Fetch(offset_, entry_.size);
  }

  // Builds the rest of the file in order: a chunk the old file holds is copied when it
  // starts exactly where the partial file ends and its bytes still hash as the map
  // says; anything else is fetched.
  bool FillByPlan() {
    File old_file;
    for (const ReusePiece& piece : plan_->pieces) {
      const std::uint64_t end = piece.offset + piece.length;
      const std::uint64_t at = offset_ + written_;
      if (end <= at) continue;
      if (context_.cancel.load()) return false;
      if (piece.local && piece.offset == at && CopyChunk(old_file, piece)) continue;
      if (write_failed_) return Fail(MessageCode::kCannotWriteDiskFull);
      if (!Fetch(at, end)) return false;
      if (whole_body_) return true;
    }
    return true;
  }

  bool CopyChunk(File& old_file, const ReusePiece& piece) {
    if (!old_file.IsOpen() &&
        !old_file.Open(JoinPath(tree_.root(), ManifestPathToNative(paths_.target)),
                       File::Mode::kRead)) {
      return false;
    }
    copy_buffer_.resize(piece.length);
    std::uint64_t got = 0;
    if (!old_file.Seek(piece.local_offset)) return false;
    while (got < piece.length) {
      const std::int64_t read = old_file.Read(copy_buffer_.data() + got, piece.length - got);
      if (read <= 0) return false;
      got += static_cast<std::uint64_t>(read);
    }
    // The old file may have changed since it was cut, or its disk may lie.
    if (ChunkHash(copy_buffer_.data(), copy_buffer_.size()) != piece.hash) return false;
    if (!file_.WriteAll(copy_buffer_.data(), copy_buffer_.size())) {
      write_failed_ = true;
      return false;
    }
    hasher_.Update(copy_buffer_.data(), copy_buffer_.size());
    written_ += piece.length;
    slot_.file_done.store(offset_ + written_);
    return true;
  }

  // Fetches the bytes [from, to) of the file into the partial file, which holds `from`
  // bytes; a request for less than the whole file asks for a range.
  bool Fetch(std::uint64_t from, std::uint64_t to) {
    const bool ranged = from > 0 || to < entry_.size;
    std::string headers;
    if (ranged) {
      headers = "Range: bytes=" + std::to_string(from) + "-" +
                (to < entry_.size ? std::to_string(to - 1) : std::string()) + "\r\n";
    }
    range_end_ = to;
    const HttpResult result = client_.Get(
        context_.settings.files_path + entry_.path, headers,
        [this, ranged](const HttpResult& response) { return OnResponse(response, ranged); },
        [this](const char* data, std::uint32_t length) { return OnData(data, length); },
        &context_.cancel);
    if (context_.cancel.load()) return false;
    if (result.status != 0 && result.status != 200 && result.status != 206) {
      if (result.status == 416) return Discard(MessageCode::kDownloadHttpStatus, result.status);
      Fail(MessageCode::kDownloadHttpStatus, result.status);
      // How long a busy server asked to be left alone: the wait before the next round.
      error_.other = static_cast<std::uint64_t>(result.retry_after.count());
      return false;
    }
    if (write_failed_) return Fail(MessageCode::kCannotWriteDiskFull);
    if (too_large_) return Discard(MessageCode::kServerFileTooLarge);
    if (result.error != 0) return Fail(MessageCode::kDownloadNetworkError, result.error);
    return true;
  }

  bool Verify() {
    if (offset_ + written_ != entry_.size) return Fail(MessageCode::kDownloadIncomplete);
    // A provider that failed midway leaves no digest at all (FinishHex then gives 64
    // zeros): that is no verdict on the file, which is kept for the next attempt.
    const bool hashed = hasher_.ok();
    const std::string hex = hasher_.FinishHex();
    if (!hashed || hex.find_first_not_of('0') == std::string::npos) {
      return Fail(MessageCode::kHashFailed);
    }
    if (hex != entry_.sha256) return Discard(MessageCode::kHashMismatch);
    return true;
  }

  // The bytes must be on disk before the file is moved into place and recorded: the
  // state file vouches for it from then on, and a power cut must not leave a
  // zero-filled file that every later check trusts.
  bool Seal() {
    std::uint64_t size_now = 0;
    if (!file_.Sync() || !file_.Identity(verified_) || !file_.Size(size_now) ||
        size_now != entry_.size) {
      return Fail(MessageCode::kCannotWriteDiskFull);
    }
    file_.Close();
    return true;
  }

  // What is moved into place must be the very file whose bytes were hashed, not
  // something put under its name since. A target someone holds open is waited for.
  bool Place() {
    for (int attempt = 0; attempt < kReplaceTries; ++attempt) {
      TreeEntry before;
      if (tree_.Stat(paths_.partial, before) != TreeResult::kDone || before.is_link ||
          before.id != verified_) {
        return Fail(MessageCode::kChangedOnDisk);
      }
      const TreeResult outcome = tree_.Replace(paths_.partial, paths_.target);
      if (outcome == TreeResult::kDone) return true;
      if (outcome == TreeResult::kLink) return Fail(MessageCode::kThroughLink);
      if (outcome != TreeResult::kRetryable) break;
      if (context_.cancel.load()) return false;
      std::this_thread::sleep_for(kReplacePause);
    }
    return Fail(MessageCode::kCannotReplace);
  }

  bool Record() {
    TreeEntry placed;
    if (tree_.Stat(paths_.target, placed) != TreeResult::kDone || placed.id != verified_ ||
        !placed.is_regular || placed.size != entry_.size) {
      return Fail(MessageCode::kChangedOnDisk);
    }
    context_.cache.Store(entry_.path, FileState{placed.size, placed.mtime, entry_.sha256});
    return true;
  }

  const DownloadContext& context_;
  HttpClient& client_;
  const ManifestEntry& entry_;
  const EntryPaths& paths_;
  WorkerSlot& slot_;
  std::uint64_t& attempt_bytes_;
  Message& error_;
  const ReusePlan* plan_;  // null: the whole file from the server
  const InstallTree tree_;
  File file_;
  Sha256 hasher_;
  std::uint64_t offset_ = 0;     // bytes the partial file held when the transfer began
  std::uint64_t written_ = 0;    // bytes written by this attempt
  std::uint64_t range_end_ = 0;  // where the request under way must stop
  bool whole_body_ = false;      // a ranged request was answered with everything
  std::vector<char> copy_buffer_;
  bool too_large_ = false;
  bool write_failed_ = false;
  FileId verified_;
};

// Shows the file in the worker's slot and makes its folders. False with the reason
// when nothing could be placed there by any attempt.
bool PrepareEntry(const DownloadContext& context, const ManifestEntry& entry,
                  const EntryPaths& paths, WorkerSlot& slot, Message& error) {
  {
    MutexLock guard(slot.lock);
    slot.file_path = entry.path;
  }
  slot.file_size.store(entry.size);
  slot.file_done.store(0);
  // Missing folders are made here; one that cannot be made shows up as the partial
  // file that cannot be written. A link on the way is final: no retry goes past it.
  const InstallTree tree(context.settings.install_dir);
  if (tree.CreateParents(paths.target) == TreeResult::kLink) {
    error = Message(MessageCode::kThroughLink, entry.path);
    return false;
  }
  // What the job could not clear out of the way is the player's: no attempt can pass.
  TreeEntry standing;
  if (tree.Stat(paths.target, standing) == TreeResult::kDone && standing.is_directory) {
    error = Message(MessageCode::kFolderInTheWay, entry.path);
    return false;
  }
  return true;
}

// What another server may not repeat: the answer, the connection or the bytes.
bool IsSourceFailure(MessageCode code) {
  switch (code) {
    case MessageCode::kBadBaseUrl:
    case MessageCode::kDownloadHttpStatus:
    case MessageCode::kDownloadNetworkError:
    case MessageCode::kServerFileTooLarge:
    case MessageCode::kDownloadIncomplete:
    case MessageCode::kHashMismatch:
      return true;
    default:
      return false;
  }
}

}  // namespace

EntryPaths PathsForEntry(const ManifestEntry& entry) {
  return EntryPaths{entry.path, entry.path + kPartialSuffix};
}

bool DownloadFile(const DownloadContext& context, HttpClient& client, const ManifestEntry& entry,
                  const EntryPaths& paths, WorkerSlot& slot, std::uint64_t& attempt_bytes,
                  Message& error, const ReusePlan* plan) {
  return FileDownload(context, client, entry, paths, slot, attempt_bytes, error, plan).Run();
}

bool DownloadWithRetries(const DownloadContext& context, SourceClients& clients,
                         const ManifestEntry& entry, WorkerSlot& slot, Message& error,
                         const ReusePlan* plan) {
  const EntryPaths paths = PathsForEntry(entry);
  if (!PrepareEntry(context, entry, paths, slot, error)) return false;
  DownloadSources& sources = context.sources;
  // A round tries the file once at each source in service; only a new round costs one
  // of its attempts, and the pause before it.
  SourceMask failed_this_round = 0;
  for (int attempt = 1; attempt <= kAttempts;) {
    if (context.cancel.load()) return false;
    const std::optional<std::size_t> source = sources.Pick(failed_this_round);
    if (!source) {
      if (++attempt > kAttempts) break;
      failed_this_round = 0;
      // Jittered, so that the launchers a failure hit together do not come back
      // together; a Retry-After is obeyed instead.
      const std::chrono::seconds retry_after(
          error.code == MessageCode::kDownloadHttpStatus ? error.other : 0);
      WaitUnlessCancelled(context.cancel,
                          RetryDelay(attempt - 1, context.retry_pause, RandomUnit(), retry_after));
      continue;
    }
    error = {};
    HttpClient* client = clients.For(*source);
    if (client == nullptr) {
      error = Message(MessageCode::kBadBaseUrl);
    } else {
      std::uint64_t attempt_bytes = 0;
      if (DownloadFile(context, *client, entry, paths, slot, attempt_bytes, error, plan)) {
        sources.Succeeded(*source);
        return true;
      }
      context.progress.bytes_done.fetch_sub(attempt_bytes);
      // Bytes that did not add up may have come from the old file as well as the
      // server: the next attempt trusts only the server.
      if (error.code == MessageCode::kHashMismatch ||
          error.code == MessageCode::kServerFileTooLarge) {
        plan = nullptr;
      }
      if (context.cancel.load()) return false;
    }
    // The source is named where there is a choice of them.
    const std::string from = sources.size() > 1 ? " (" + sources.url(*source) + ")" : "";
    Log("reintento %d de %s%s: %s", attempt, entry.path.c_str(), from.c_str(),
        Sentence(error).c_str());
    failed_this_round |= SourceMask{1} << *source;
    // A failure of this computer (a write, the disk, the file held open) would follow
    // the file to any server: it ends the round.
    if (IsSourceFailure(error.code)) {
      sources.Failed(*source);
    } else {
      failed_this_round = ~SourceMask{0};
    }
  }
  return false;
}

}  // namespace brisal

// Makes the N-th file operation fail (open, write, flush, rename, delete, create
// folder, stat), for every N over an install, an update that removes obsolete files,
// and a verify. Whatever fails, the launcher must end in a Spanish sentence or recover
// by itself, its state file must vouch only for files on disk with the recorded bytes,
// and a clean run afterwards must converge to the published client.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/file_faults.h"
#include "core/files.h"
#include "tests/update/engine_fixture.h"
#include "update/engine.h"

namespace brisal::testing {
namespace {

// Fails the n-th operation it sees (0: none) and records the order of all of them.
class FailNth : public FileOpObserver {
 public:
  explicit FailNth(long n) : n_(n) {}
  bool Allow(FileOp op) override {
    std::lock_guard<std::mutex> guard(lock_);
    ops_.push_back(op);
    return static_cast<long>(ops_.size()) != n_;
  }
  std::vector<FileOp> ops() {
    std::lock_guard<std::mutex> guard(lock_);
    return ops_;
  }

 private:
  const long n_;
  std::mutex lock_;
  std::vector<FileOp> ops_;
};

class ObserverScope {
 public:
  explicit ObserverScope(FileOpObserver* observer) { SetFileOpObserver(observer); }
  ~ObserverScope() { SetFileOpObserver(nullptr); }
  ObserverScope(const ObserverScope&) = delete;
  ObserverScope& operator=(const ObserverScope&) = delete;
};

std::map<std::string, std::string> ClientA() {
  std::map<std::string, std::string> files;
  for (int i = 0; i < 24; ++i) {
    files["datos/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin"] =
        MakeContent(static_cast<std::size_t>(i) * 977, 10 + i);
  }
  for (int i = 0; i < 8; ++i)
    files["viejo/o" + std::to_string(i) + ".dat"] = MakeContent(300 + i, 50 + i);
  files["Brisal Client_GL.exe"] = MakeContent(70000, 99);
  return files;
}

// A changed for the next revision: some files changed, the "viejo" ones obsolete, new
// ones in a new folder.
std::map<std::string, std::string> ClientB() {
  std::map<std::string, std::string> files;
  for (const auto& [path, content] : ClientA()) {
    if (path.rfind("viejo/", 0) == 0) continue;
    files[path] = content;
  }
  for (int i = 0; i < 24; i += 4) {
    files["datos/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin"] =
        MakeContent(static_cast<std::size_t>(i) * 1013 + 5, 200 + i);
  }
  for (int i = 0; i < 4; ++i)
    files["nuevo/n" + std::to_string(i) + ".pak"] = MakeContent(4096 + i, 300 + i);
  return files;
}

class FileFaultsTest : public EngineTest {
 protected:
  // One fresh install folder and launcher state per failure point.
  struct Run {
    TempDir install;
    LauncherState state;
  };

  std::unique_ptr<Run> NewRun() {
    auto run = std::make_unique<Run>();
    JobSettings settings = settings_;
    settings.install_dir = run->install.path();
    settings.connections = 1;  // one order of operations, so N always means one thing
    HandOverSettings(run->state, settings);
    // A second attempt is what is being tested, not the pause before it.
    run->state.jobs.retry_pause = std::chrono::milliseconds(1);
    return run;
  }

  static void CheckJob(Run& run, EngineAction action) {
    RunJobWrapped(run.state, JobKind::kExclusive, [&] { RunUpdateCheck(run.state, action); });
  }
  static void UpdateJob(Run& run) {
    RunJobWrapped(run.state, JobKind::kExclusive, [&] { RunUpdateJob(run.state); });
  }

  // Every file .brisal_state.json records is on disk with the recorded bytes.
  static std::string BrokenPromise(Run& run) {
    std::string text;
    if (!ReadWholeFile(run.install.Sub(kStateFileName), text)) return {};
    nlohmann::json state = nlohmann::json::parse(text, nullptr, false);
    if (!state.is_object() || !state["files"].is_object()) return "the state file is not whole";
    for (const auto& [path, record] : state["files"].items()) {
      std::string content;
      if (!ReadWholeFile(run.install.Sub(path), content)) return path + " is recorded but missing";
      if (content.size() != record[0].get<std::uint64_t>() ||
          Sha256Of(content) != record[2].get<std::string>()) {
        return path + " is recorded with other bytes";
      }
    }
    return {};
  }

  // A job's end: the phase it aims for, or a failure the player can read.
  static std::string Outcome(Run& run, std::initializer_list<UpdatePhase> good) {
    const UpdatePhase phase = CurrentPhase(run.state);
    for (UpdatePhase p : good) {
      if (phase == p) return "ok";
    }
    if (phase == UpdatePhase::kFailed && !StatusText(run.state).empty()) return "failed";
    return "phase " + std::to_string(static_cast<int>(phase)) + " \"" + StatusText(run.state) +
           "\"";
  }

  // Install A, update to B (obsolete files removed), verify; the outcome of each step.
  std::vector<std::string> Scenario(Run& run) {
    std::vector<std::string> outcomes;
    Publish(ClientA(), "r1", "\"a\"");
    CheckJob(run, EngineAction::kCheck);
    outcomes.push_back(Outcome(run, {UpdatePhase::kNotInstalled}));
    if (CurrentPhase(run.state) == UpdatePhase::kNotInstalled) {
      UpdateJob(run);
      outcomes.push_back(Outcome(run, {UpdatePhase::kUpToDate}));
    }
    Publish(ClientB(), "r2", "\"b\"");
    CheckJob(run, EngineAction::kCheck);
    outcomes.push_back(Outcome(
        run, {UpdatePhase::kUpdateAvailable, UpdatePhase::kNotInstalled, UpdatePhase::kUpToDate}));
    if (CurrentPhase(run.state) == UpdatePhase::kUpdateAvailable ||
        CurrentPhase(run.state) == UpdatePhase::kNotInstalled) {
      UpdateJob(run);
      outcomes.push_back(Outcome(run, {UpdatePhase::kUpToDate}));
    }
    CheckJob(run, EngineAction::kVerify);
    outcomes.push_back(Outcome(
        run, {UpdatePhase::kUpToDate, UpdatePhase::kUpdateAvailable, UpdatePhase::kNotInstalled}));
    return outcomes;
  }
};

TEST_F(FileFaultsTest, EveryFailedFileOperationEndsReadableTrustworthyAndRecoverable) {
  long total = 0;
  {
    auto run = NewRun();
    FailNth counter(0);
    ObserverScope scope(&counter);
    for (const std::string& outcome : Scenario(*run))
      ASSERT_EQ(outcome, "ok");
    total = static_cast<long>(counter.ops().size());
  }
  ASSERT_GT(total, 100);

  int recovered = 0, failed = 0;
  for (long n = 1; n <= total; ++n) {
    auto run = NewRun();
    bool any_failed = false;
    {
      FailNth failing(n);
      ObserverScope scope(&failing);
      for (const std::string& outcome : Scenario(*run)) {
        EXPECT_TRUE(outcome == "ok" || outcome == "failed") << "operation " << n << ": " << outcome;
        any_failed = any_failed || outcome == "failed";
      }
    }
    (any_failed ? failed : recovered)++;
    const std::string broken = BrokenPromise(*run);
    EXPECT_EQ(broken, "") << "operation " << n;

    // Nothing fails any more: the next check and update reach the published client.
    CheckJob(*run, EngineAction::kCheck);
    if (CurrentPhase(run->state) != UpdatePhase::kUpToDate) UpdateJob(*run);
    ASSERT_EQ(CurrentPhase(run->state), UpdatePhase::kUpToDate)
        << "operation " << n << ": " << StatusText(run->state);
    for (const auto& [path, content] : ClientB()) {
      std::string installed;
      ASSERT_TRUE(ReadWholeFile(run->install.Sub(path), installed))
          << "operation " << n << ": " << path;
      ASSERT_EQ(Sha256Of(installed), Sha256Of(content)) << "operation " << n << ": " << path;
    }
    EXPECT_EQ(BrokenPromise(*run), "") << "operation " << n << ", after the clean run";
  }
  std::printf(
      "file-system torture: %ld failure points; %d ended in a Spanish sentence, %d "
      "recovered by themselves\n",
      total, failed, recovered);
}

// Data reaches the disk before the name that makes it count: in every whole-file write
// and every download, a flush comes between the last write and the rename.
TEST_F(FileFaultsTest, WritesAreFlushedBeforeTheirRename) {
  Publish({{"uno.bin", MakeContent(200000, 1)}});
  auto run = NewRun();
  FailNth recorder(0);
  {
    ObserverScope scope(&recorder);
    CheckJob(*run, EngineAction::kCheck);
    UpdateJob(*run);
  }
  ASSERT_EQ(CurrentPhase(run->state), UpdatePhase::kUpToDate);
  int renames = 0;
  bool written_since_flush = false;
  for (FileOp op : recorder.ops()) {
    if (op == FileOp::kWrite) written_since_flush = true;
    if (op == FileOp::kFlush) written_since_flush = false;
    if (op == FileOp::kRename) {
      ++renames;
      EXPECT_FALSE(written_since_flush) << "rename " << renames << " follows an unflushed write";
    }
  }
  EXPECT_GE(renames, 2);  // the download and the state file
}

}  // namespace
}  // namespace brisal::testing

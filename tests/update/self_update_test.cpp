// The launcher's own update: what launcher.json may make it do, and a swap that leaves
// a program that starts whatever step fails and wherever the process stops.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "client_files/signature.h"
#include "core/file_faults.h"
#include "core/files.h"
#include "core/text.h"
#include "tests/support/signing_vectors.h"
#include "tests/update/engine_fixture.h"
#include "update/self_update.h"

namespace brisal::testing {
namespace {

constexpr const char* kPlatform = "test-platform";

std::string Signed(const std::string& text) {
  std::string signature;
  std::string public_key;
  Message error;
  EXPECT_TRUE(SignMessage(kVectorPrivateKey, text, signature, public_key, error));
  return EncodeBase64(signature) + "\n";
}

class SelfUpdateTest : public EngineTest {
 protected:
  const std::string kOld = MakeContent(5000, 1);
  const std::string kNew = MakeContent(7000, 2);

  SelfUpdateTest() {
    target_.path = program_.Sub("brisal-launcher");
    target_.running_version = "1.1.0";
    target_.platform = kPlatform;
    WriteFile(target_.path, kOld);
  }

  // Publishes launcher.json (signed when `sign`) and the program it names, which
  // holds `served` (the new program unless a row lies about it).
  void PublishRelease(const std::string& version, const std::string& served, bool sign,
                      const std::function<void(std::string&)>& tamper = {}) {
    const LauncherFile file{"programas/brisal-launcher", kNew.size(), Sha256Of(kNew)};
    std::string text = WriteLauncherRelease(version, {{kPlatform, file}});
    const std::string signature = Signed(text);
    if (tamper) tamper(text);
    server_.AddFile("/brisal/launcher.json", text);
    server_.SetHandler("/brisal/launcher.json.sig", [sign, signature](const HttpTestRequest&) {
      return sign ? HttpTestResponse::WithStatus(200, signature)
                  : HttpTestResponse::WithStatus(404);
    });
    server_.AddFile("/brisal/programas/brisal-launcher", served);
  }

  void UseKey() {
    settings_.manifest_keys = {kVectorPublicKey};
    HandOverSettings(state_, settings_);
  }

  // Check, fetch and swap, as brisal-cli self-update does; the first refusal's code.
  MessageCode Run() {
    MessageCode refused = MessageCode::kNone;
    RunJobWrapped(state_, JobKind::kExclusive, [&] {
      state_.plan.job_lock.AssertHeld();
      const LauncherCheckOutcome found = CheckLauncherRelease(state_, target_);
      if (found.result != LauncherCheck::kNewer) {
        refused = found.message.code;
        return;
      }
      Message error;
      if (!StageLauncher(state_, target_, found, error)) {
        refused = error.causes.empty() ? error.code : error.causes.front().code;
        return;
      }
      std::string version;
      if (ApplyStagedLauncher(target_, version, error) != ApplyResult::kSwapped) {
        refused = error.code;
      }
    });
    return refused;
  }

  // Which program the launcher's path holds, by name: a diff of two programs helps no one.
  std::string Held() {
    const std::string bytes = ReadFile(target_.path);
    return bytes == kOld ? "old" : bytes == kNew ? "new" : "other";
  }

  TempDir program_;
  LauncherTarget target_;
};

TEST_F(SelfUpdateTest, RefusesEveryReleaseItCannotTrustAndTakesOnlyANewerVerifiedOne) {
  state_.jobs.retry_pause = std::chrono::milliseconds(1);
  struct Row {
    const char* name;
    bool key;
    bool sign;
    std::string version;
    std::string served;
    std::function<void(std::string&)> tamper;
    MessageCode refused;
  };
  const std::string bigger = kNew + "x";
  const std::string shorter = kNew.substr(0, kNew.size() - 1);
  std::string other = kNew;
  other[100] ^= 1;
  const Row rows[] = {
      {"newer, signed", true, true, "1.2.0", kNew, {}, MessageCode::kNone},
      {"newer, no key configured", false, false, "1.10", kNew, {}, MessageCode::kNone},
      {"unsigned while a key is configured",
       true,
       false,
       "1.2.0",
       kNew,
       {},
       MessageCode::kSignatureMissing},
      {"tampered after signing", true, true, "1.2.0", kNew,
       [](std::string& t) { t.replace(t.find("1.2.0"), 5, "9.2.0"); },
       MessageCode::kSignatureInvalid},
      {"older version", true, true, "1.0.9", kNew, {}, MessageCode::kLauncherReleaseOlder},
      {"same version", true, true, "1.1", kNew, {}, MessageCode::kLauncherUpToDate},
      {"program larger than announced",
       true,
       true,
       "1.2.0",
       bigger,
       {},
       MessageCode::kServerFileTooLarge},
      {"program shorter than announced",
       true,
       true,
       "1.2.0",
       shorter,
       {},
       MessageCode::kDownloadIncomplete},
      {"program with other bytes", true, true, "1.2.0", other, {}, MessageCode::kHashMismatch},
      {"no entry for this platform", false, false, "1.2.0", kNew,
       [](std::string& t) { t.replace(t.find(kPlatform), 4, "otra"); },
       MessageCode::kLauncherReleaseNoPlatform},
      {"a URL that climbs out of its folder", false, false, "1.2.0", kNew,
       [](std::string& t) { t.replace(t.find("programas/"), 10, "../../etc/"); },
       MessageCode::kLauncherReleaseInvalid},
      {"a size that is no number", false, false, "1.2.0", kNew,
       [](std::string& t) { t.replace(t.find("7000"), 4, "\"7000\""); },
       MessageCode::kLauncherReleaseInvalid},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFile(target_.path, kOld);
    // Each row starts with nothing staged: a partial file left by the row before would
    // be resumed.
    std::filesystem::remove_all(std::filesystem::u8path(StagingFolder(target_.path)));
    settings_.manifest_keys.clear();
    HandOverSettings(state_, settings_);
    if (row.key) UseKey();
    PublishRelease(row.version, row.served, row.sign, row.tamper);
    EXPECT_EQ(Run(), row.refused);
    EXPECT_EQ(Held(), row.refused == MessageCode::kNone ? "new" : "old");
  }
}

TEST_F(SelfUpdateTest, ThePlayerHearsOfANewerLauncherAndAPackagedOneIsLeftToApt) {
  const auto keep_current = [&] {
    RunJobWrapped(state_, JobKind::kExclusive, [&] {
      state_.plan.job_lock.AssertHeld();
      KeepLauncherCurrent(state_, target_);
    });
  };
  PublishRelease("1.2.0", kNew, false);
  keep_current();
  EXPECT_EQ(TakeLauncherNotice(state_), Message(MessageCode::kLauncherUpdateStaged, "1.2.0"));
  EXPECT_EQ(Held(), "old");  // until the next start

  // A folder of its own below /usr, removed whatever happens: a wrong launcher would
  // write there.
  const std::filesystem::path packaged = "/usr/brisal-ascent-prueba";
  target_.path = (packaged / "bin" / "brisal-launcher").string();
  PublishRelease("1.3.0", kNew, false);
  keep_current();
  EXPECT_EQ(TakeLauncherNotice(state_), Message(MessageCode::kLauncherByPackage));
  EXPECT_FALSE(std::filesystem::exists(packaged));
  std::filesystem::remove_all(packaged);
}

TEST_F(SelfUpdateTest, VersionsCompareNumberByNumber) {
  EXPECT_GT(CompareVersions("1.10", "1.9"), 0);
  EXPECT_EQ(CompareVersions("1.2", "1.2.0.0"), 0);
  EXPECT_LT(CompareVersions("1.2.0", "1.2.1"), 0);
  for (const char* bad : {"", "1.", ".1", "1..2", "1.2.3.4.5", "1.a", "1234567890", "-1", " 1"}) {
    EXPECT_FALSE(IsVersionText(bad)) << bad;
  }
}

// Fails file operations from the n-th on: `stop` makes every later one fail too, as
// a process killed at that moment would leave things.
class FailFrom : public FileOpObserver {
 public:
  FailFrom(long n, bool stop) : n_(n), stop_(stop) {}
  bool Allow(FileOp) override {
    std::lock_guard<std::mutex> guard(lock_);
    ++seen_;
    return stop_ ? seen_ < n_ : seen_ != n_;
  }
  long seen() {
    std::lock_guard<std::mutex> guard(lock_);
    return seen_;
  }

 private:
  const long n_;
  const bool stop_;
  std::mutex lock_;
  long seen_ = 0;
};

TEST_F(SelfUpdateTest, EveryFailingOrInterruptedStepOfTheSwapLeavesAProgramThatStarts) {
  for (const SwapMethod method : {SwapMethod::kReplaceInPlace, SwapMethod::kMoveAside}) {
    target_.swap = method;
    for (const bool stop : {false, true}) {
      for (long n = 1;; ++n) {
        SCOPED_TRACE(::testing::Message()
                     << "method " << static_cast<int>(method) << " stop " << stop << " op " << n);
        WriteFile(target_.path, kOld);
        PublishRelease("1.2.0", kNew, false);
        RunJobWrapped(state_, JobKind::kExclusive, [&] {
          state_.plan.job_lock.AssertHeld();
          const LauncherCheckOutcome found = CheckLauncherRelease(state_, target_);
          Message error;
          ASSERT_TRUE(StageLauncher(state_, target_, found, error)) << Sentence(error);
        });
        FailFrom faults(n, stop);
        SetFileOpObserver(&faults);
        std::string version;
        Message error;
        const ApplyResult applied = ApplyStagedLauncher(target_, version, error);
        SetFileOpObserver(nullptr);
        const std::string now = Held();
        // A process that lives on still has a program in place.
        if (!stop) {
          EXPECT_NE(now, "other");
        }
        EXPECT_EQ(applied == ApplyResult::kSwapped, now == "new");
        // The next start finishes what was left and removes what was set aside.
        FinishLauncherSwap(target_.path);
        EXPECT_NE(Held(), "other");
        EXPECT_FALSE(FileExists(AsidePath(target_.path)));
        if (faults.seen() < n) break;  // no operation failed: every step was tried
      }
    }
  }
}

}  // namespace
}  // namespace brisal::testing

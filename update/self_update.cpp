#include "update/self_update.h"

#include <nlohmann/json.hpp>

#include "client_files/file_state_cache.h"
#include "client_files/sha256.h"
#include "client_files/sha256_hex.h"
#include "core/files.h"
#include "core/install_tree.h"
#include "core/log.h"
#include "core/paths.h"
#include "net/http_client.h"
#include "update/download.h"
#include "update/download_sources.h"
#include "update/manifest_trust.h"
#include "version.h"

namespace brisal {

namespace {

using Json = nlohmann::json;

// launcher.json is a few hundred bytes; anything far larger is not one.
constexpr std::uint64_t kReleaseCap = 64 * 1024;
constexpr auto kReleaseDeadline = std::chrono::seconds(60);
constexpr const char* kRecordName = "staged.json";

// What StageLauncher leaves for ApplyStagedLauncher: the program's name in the staging
// folder and what it must hold.
struct StagedRecord {
  std::string version;
  std::string name;
  std::uint64_t size = 0;
  std::string sha256;
};

std::string RecordPath(const std::string& launcher_path) {
  return JoinPath(StagingFolder(launcher_path), kRecordName);
}

// The record is launcher.json's word, copied after the download checked it; it is read
// back as carefully as launcher.json itself.
bool ReadRecord(const std::string& launcher_path, StagedRecord& record) {
  std::string text;
  if (ReadSmallFile(RecordPath(launcher_path), 4096, text) != SmallFileRead::kRead) return false;
  const Json doc = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return false;
  const auto version = doc.find("version");
  const auto name = doc.find("name");
  const auto size = doc.find("size");
  const auto sha256 = doc.find("sha256");
  if (version == doc.end() || !version->is_string() || name == doc.end() || !name->is_string() ||
      size == doc.end() || !size->is_number_unsigned() || sha256 == doc.end() ||
      !sha256->is_string()) {
    return false;
  }
  record = {version->get<std::string>(), name->get<std::string>(), size->get<std::uint64_t>(),
            sha256->get<std::string>()};
  return IsVersionText(record.version) && IsSafeRelativePath(record.name) &&
         record.name.find('/') == std::string::npos && record.size <= kMaxLauncherBytes &&
         NormaliseSha256Hex(record.sha256);
}

bool WriteRecord(const std::string& launcher_path, const StagedRecord& record) {
  const Json doc = {{"version", record.version},
                    {"name", record.name},
                    {"size", record.size},
                    {"sha256", record.sha256}};
  return WriteFileAtomic(RecordPath(launcher_path), doc.dump() + "\n");
}

// Whether `path` holds exactly `size` bytes hashing to `sha256`.
bool HoldsBytes(const std::string& path, std::uint64_t size, const std::string& sha256) {
  FileInfo info;
  std::string hex;
  return GetFileInfo(path, info) && info.is_regular && info.size == size &&
         HashFile(path, hex, nullptr) && hex == sha256;
}

void ForgetStaged(const std::string& launcher_path, const StagedRecord* record) {
  DeleteFileAt(RecordPath(launcher_path));
  if (record != nullptr) DeleteFileAt(JoinPath(StagingFolder(launcher_path), record->name));
}

}  // namespace

std::string ThisBuildsVersion() {
  return BRISAL_VERSION;
}

LauncherTarget ThisBuildsLauncher(const std::string& launcher_path) {
  LauncherTarget target;
  target.path = launcher_path;
  target.running_version = BRISAL_VERSION;
  target.platform = BRISAL_RELEASE_PLATFORM;
  target.swap = BRISAL_SWAP_MOVES_ASIDE ? SwapMethod::kMoveAside : SwapMethod::kReplaceInPlace;
  return target;
}

bool ManagedByPackages(const std::string& launcher_path) {
  return launcher_path.rfind("/usr/", 0) == 0;
}

std::string StagingFolder(const std::string& launcher_path) {
  return JoinPath(ParentPath(launcher_path), ".brisal-launcher-update");
}

LauncherCheckOutcome CheckLauncherRelease(LauncherState& state, const LauncherTarget& target) {
  LauncherCheckOutcome outcome;
  // Without the operator's key the defaults could accept anything: nothing is trusted.
  if (state.plan.live.config_unusable) {
    outcome.message = Message(MessageCode::kConfigUnusable);
    return outcome;
  }
  HttpClient client;
  if (!client.Open(state.plan.live.base_url)) {
    outcome.message = Message(MessageCode::kBadBaseUrl);
    return outcome;
  }
  HttpLimits limits;
  limits.deadline = kReleaseDeadline;
  client.SetLimits(limits);
  const std::string path = LauncherReleasePath(state.plan.live.manifest);
  const SmallDocument release = FetchSmallDocument(client, path, "Cache-Control: no-cache\r\n",
                                                   kReleaseCap, &state.jobs.cancel);
  const HttpResult& result = release.result;
  const std::string& text = release.body;
  if (state.jobs.cancel.load()) {
    outcome.result = LauncherCheck::kCancelled;
    return outcome;
  }
  if (result.status == 0) {
    outcome.message = Message(MessageCode::kLauncherReleaseFetchFailed, {}, result.error);
    return outcome;
  }
  if (result.status != 200) {
    outcome.message =
        Message(MessageCode::kLauncherReleaseHttp, state.plan.live.base_url + path, result.status);
    return outcome;
  }
  if (result.error != 0 || release.too_large) {
    outcome.message = Message(MessageCode::kLauncherReleaseInvalid);
    return outcome;
  }
  if (!state.plan.live.manifest_keys.empty() &&
      !VerifyManifestSignature(client, path, state.plan.live.manifest_keys, text, state.jobs.cancel,
                               outcome.message)) {
    if (outcome.message.empty()) outcome.result = LauncherCheck::kCancelled;
    return outcome;
  }
  if (!ParseLauncherRelease(text, target.platform, outcome.release, outcome.message)) {
    return outcome;
  }
  const std::string folder_url = state.plan.live.base_url + path.substr(0, path.rfind('/') + 1);
  if (!SplitLauncherUrl(folder_url, outcome.release.file.url, outcome.folder_url, outcome.name)) {
    outcome.message = Message(MessageCode::kLauncherReleaseInvalid);
    return outcome;
  }
  const int order = CompareVersions(outcome.release.version, target.running_version);
  if (order < 0) {
    // An older release, signed or not, is a rollback: never installed.
    outcome.message = Wrap(MessageCode::kLauncherReleaseOlder, outcome.release.version,
                           Message(MessageCode::kVerbatim, target.running_version));
    return outcome;
  }
  if (order == 0) {
    outcome.result = LauncherCheck::kUpToDate;
    outcome.message = Message(MessageCode::kLauncherUpToDate, target.running_version);
    return outcome;
  }
  outcome.result = LauncherCheck::kNewer;
  outcome.message = Message(MessageCode::kLauncherUpdateAvailable, outcome.release.version);
  return outcome;
}

bool StageLauncher(LauncherState& state, const LauncherTarget& target,
                   const LauncherCheckOutcome& found, Message& error) {
  error = {};
  const std::string staging = StagingFolder(target.path);
  if (!EnsureDirectory(staging)) {
    error = Message(MessageCode::kLauncherCannotStage, staging);
    return false;
  }
  const StagedRecord wanted{found.release.version, found.name, found.release.file.size,
                            found.release.file.sha256};
  StagedRecord held;
  if (ReadRecord(target.path, held) && held.version == wanted.version && held.name == wanted.name &&
      held.sha256 == wanted.sha256 &&
      HoldsBytes(JoinPath(staging, held.name), held.size, held.sha256)) {
    return true;
  }
  // The record names what is staged; until the new program is whole, nothing is.
  DeleteFileAt(RecordPath(target.path));

  JobSettings settings;
  settings.install_dir = staging;
  FileStateCache cache;
  Progress progress;
  DownloadSources sources(found.folder_url, {});
  SourceClients clients(sources);
  const DownloadContext context{settings,
                                cache,
                                progress,
                                state.jobs.cancel,
                                sources,
                                state.jobs.retry_pause,
                                state.jobs.download_limit};
  const ManifestEntry entry{found.name, found.release.file.size, found.release.file.sha256};
  WorkerSlot slot;
  Message failure;
  if (!DownloadWithRetries(context, clients, entry, slot, failure)) {
    if (!failure.empty()) error = Wrap(MessageCode::kLauncherDownloadFailed, std::move(failure));
    return false;
  }
  const InstallTree tree(staging);
  if (tree.MakeExecutable(found.name) != TreeResult::kDone || !WriteRecord(target.path, wanted)) {
    error = Message(MessageCode::kLauncherCannotStage, staging);
    return false;
  }
  return true;
}

ApplyResult ApplyStagedLauncher(const LauncherTarget& target, std::string& version,
                                Message& error) {
  error = {};
  StagedRecord record;
  if (!ReadRecord(target.path, record)) return ApplyResult::kNothing;
  const std::string staged = JoinPath(StagingFolder(target.path), record.name);
  // A release the running program already has (or passed) is stale; a file that no
  // longer holds the verified bytes is damaged. Neither is ever put in place.
  if (CompareVersions(record.version, target.running_version) <= 0 ||
      !HoldsBytes(staged, record.size, record.sha256)) {
    ForgetStaged(target.path, &record);
    return ApplyResult::kNothing;
  }
  if (!SwapInLauncher(target.path, staged, target.swap, error)) return ApplyResult::kFailed;
  ForgetStaged(target.path, nullptr);
  version = record.version;
  return ApplyResult::kSwapped;
}

void KeepLauncherCurrent(LauncherState& state, const LauncherTarget& target) {
  if (!state.plan.live.self_update) return;
  const LauncherCheckOutcome found = CheckLauncherRelease(state, target);
  if (found.result != LauncherCheck::kNewer) {
    if (found.result == LauncherCheck::kFailed)
      Log("launcher: %s", Sentence(found.message).c_str());
    return;
  }
  // apt brings the new version; the player only learns that there is one.
  if (ManagedByPackages(target.path)) {
    PublishLauncherNotice(state, Message(MessageCode::kLauncherByPackage), found.release.version);
    return;
  }
  Message error;
  if (StageLauncher(state, target, found, error)) {
    const Message staged(MessageCode::kLauncherUpdateStaged, found.release.version);
    Log("launcher: %s", Sentence(staged).c_str());
    PublishLauncherNotice(state, staged, found.release.version);
  } else if (!error.empty()) {
    Log("launcher: %s", Sentence(error).c_str());
  }
}

}  // namespace brisal
